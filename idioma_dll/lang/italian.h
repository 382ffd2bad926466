// zel_lng language file: Italian (italiano) messages, Windows-1252 text.
// One message a line: #number=text (\n in a text starts a new line).

#13=Impossibile aprire il dispositivo di interfaccia della tastiera.
#14=Il dispositivo di interfaccia della tastiera ha rifiutato la richiesta.
