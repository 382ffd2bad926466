// zel_lng language file: French (français) messages, Windows-1252 text.
// One message a line: #number=text (\n in a text starts a new line).

#13=Impossible d'ouvrir le périphérique d'interface du clavier.
#14=Le périphérique d'interface du clavier a refusé la requête.
