// zel_lng language file: German (Deutsch) messages, Windows-1252 text.
// One message a line: #number=text (\n in a text starts a new line).

#13=Das Gerät der Tastaturschnittstelle konnte nicht geöffnet werden.
#14=Das Gerät der Tastaturschnittstelle hat die Anforderung abgelehnt.
