// Reading a language file for one message line.
#include "message_translator.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace zel_lng {
namespace {

// The number part is everything before the first '='; as with any unsigned conversion of
// the C library, spaces after '#' and a sign are accepted. Only the low 16 bits count.
// The conversion stops at the first character that is no digit, so reading from the whole
// line gives what the number part alone gives, once the line is known to hold an '='.
bool ReadNumber(const std::string& line, size_t equals, unsigned& number) {
    if (equals == std::string::npos)
        return false;
    return std::sscanf(line.c_str(), "#%u", &number) == 1;
}

// Copies the text after the first '=' into `text`, each "\n" pair turned into a line feed,
// cut to what the buffer holds with its NUL. Nothing past kTextSize is written, and a NUL
// byte in the file ends the text, so that only zeros follow it.
void StoreText(const std::string& line, size_t equals, char* text) {
    std::memset(text, 0, kTextSize);
    unsigned out = 0;
    for (size_t i = equals + 1; i < line.size() && line[i] != '\0' && out < kTextSize - 1; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            text[out++] = '\n';
            ++i;
        } else {
            text[out++] = line[i];
        }
    }
}

} // namespace

bool MessageTranslator::FindMessage(const char* path, WORD number, char* text) const {
    try {
        // Binary mode with the CR of a CR LF end dropped by hand reads both kinds of file
        // alike on both targets (and a stray 0x1A does not end the file early).
        std::ifstream file(ZEL_FILE_PATH(path), std::ios::in | std::ios::binary);
        if (!file.is_open())
            return false;
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] != '#')
                continue;
            size_t equals = line.find('=');
            unsigned found = 0;
            // A line that is not the one asked for leaves the text alone: a number that no
            // line carries must not hand back some other message's text.
            if (!ReadNumber(line, equals, found) || WORD(found) != number)
                continue;
            StoreText(line, equals, text);
            return true;
        }
        // End of file or a read error: the message is not there.
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace zel_lng
