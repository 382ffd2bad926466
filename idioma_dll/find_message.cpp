// Reading a language file for one message line.
#include "message_translator.h"

#include <cstring>
#include <string>

namespace zel_lng {
namespace {

// The language file, read line by line through one handle that is open for reading and
// shares nothing while a lookup runs. Bytes are taken as they are (a stray 0x1A does not
// end the file early); a line ends at LF, and the CR of a CR LF end is dropped, so both
// kinds of file read alike on both targets.
class LineReader {
  public:
    explicit LineReader(const char* path)
        : file_(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}
    ~LineReader() {
        if (IsOpen())
            CloseHandle(file_);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }

    // The next line without its end; false at the end of the file or on a read error.
    bool Next(std::string& line) {
        line.clear();
        bool any = false;
        for (;;) {
            if (next_ == end_ && !Fill())
                break;
            any = true;
            const char* start = buffer_ + next_;
            const void* lf = std::memchr(start, '\n', end_ - next_);
            const DWORD take = lf ? DWORD(static_cast<const char*>(lf) - start) : end_ - next_;
            line.append(start, take);
            next_ += take;
            if (lf) {
                ++next_;
                break;
            }
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return any && !failed_;
    }

  private:
    bool Fill() {
        DWORD got = 0;
        if (!ReadFile(file_, buffer_, sizeof buffer_, &got, nullptr))
            failed_ = true;
        next_ = 0;
        end_ = failed_ ? 0 : got;
        return end_ != 0;
    }

    HANDLE file_;
    char buffer_[4096];
    DWORD next_ = 0, end_ = 0;
    bool failed_ = false;
};

// The number part (everything before the first '=') read as msvcrt's sscanf reads "#%u":
// white space, an optional sign, then decimal digits gathered in 32 bits that wrap around;
// a minus negates the result. Both targets read it with this routine, so a line gives the
// same number everywhere, whatever the local C library does with an overflow.
bool ReadNumber(const std::string& line, size_t equals, unsigned& number) {
    if (equals == std::string::npos)
        return false;
    size_t i = 1; // after the '#'
    while (i < equals && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r')))
        ++i;
    const bool negative = i < equals && line[i] == '-';
    if (i < equals && (line[i] == '-' || line[i] == '+'))
        ++i;
    if (i == equals || line[i] < '0' || line[i] > '9')
        return false;
    unsigned value = 0;
    for (; i < equals && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10u + unsigned(line[i] - '0');
    number = negative ? 0u - value : value;
    return true;
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
        LineReader file(path);
        if (!file.IsOpen())
            return false;
        std::string line;
        while (file.Next(line)) {
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
