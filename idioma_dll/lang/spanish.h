// zel_lng language file: Spanish (español) messages, Windows-1252 text.
// One message a line: #number=text (\n in a text starts a new line).

#13=No se ha podido abrir el dispositivo de interfaz del teclado.
#14=El dispositivo de interfaz del teclado ha rechazado la petición.
