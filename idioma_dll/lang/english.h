// zel_lng language file: English messages, Windows-1252 text.
// One message a line: #number=text (\n in a text starts a new line).

#13=The keyboard interface device could not be opened.
#14=The keyboard interface device refused the request.
