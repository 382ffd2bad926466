// Checks for the test programs that run under Wine: each failed check prints the
// expression, the expected and the actual value and the line, and counts a failure;
// a program ends with `return WINE_CHECK_RESULT();` (0 when every check passed).
#pragma once

#include <cstdio>
#include <cstring>

namespace winecheck {

inline int& Failures() {
    static int failures = 0;
    return failures;
}

inline bool Report(bool ok, const char* expr, const char* file, int line, const char* got,
                   const char* expected) {
    if (!ok) {
        ++Failures();
        std::printf("FAIL %s:%d: %s\n    got      %s\n    expected %s\n", file, line, expr, got,
                    expected);
        std::fflush(stdout);
    }
    return ok;
}

inline void Format(char* out, size_t size, long long v) {
    std::snprintf(out, size, "%lld (0x%llX)", v, static_cast<unsigned long long>(v));
}
inline void Format(char* out, size_t size, const char* v) {
    std::snprintf(out, size, "\"%s\"", v ? v : "(null)");
}

template <typename A, typename B>
bool Equal(const A& got, const B& expected, const char* expr, const char* file, int line) {
    char g[1200], e[1200];
    Format(g, sizeof g, static_cast<long long>(got));
    Format(e, sizeof e, static_cast<long long>(expected));
    return Report(static_cast<long long>(got) == static_cast<long long>(expected), expr, file, line,
                  g, e);
}

inline bool EqualText(const char* got, const char* expected, const char* expr, const char* file,
                      int line) {
    char g[1200], e[1200];
    Format(g, sizeof g, got);
    Format(e, sizeof e, expected);
    bool same = got && expected && std::strcmp(got, expected) == 0;
    return Report(same, expr, file, line, g, e);
}

inline bool Near(long long got, long long expected, long long tolerance, const char* expr,
                 const char* file, int line) {
    char g[1200], e[1200];
    Format(g, sizeof g, got);
    std::snprintf(e, sizeof e, "%lld +/- %lld", expected, tolerance);
    long long d = got - expected;
    return Report(d <= tolerance && -d <= tolerance, expr, file, line, g, e);
}

} // namespace winecheck

// Each returns true when the check passed, so a program can stop where going on makes no sense.
#define CHECK(cond)                                                                                \
    winecheck::Report(static_cast<bool>(cond), #cond, __FILE__, __LINE__, "false", "true")
#define CHECK_EQ(got, expected)                                                                    \
    winecheck::Equal((got), (expected), #got " == " #expected, __FILE__, __LINE__)
#define CHECK_STREQ(got, expected)                                                                 \
    winecheck::EqualText((got), (expected), #got " == " #expected, __FILE__, __LINE__)
#define CHECK_NEAR(got, expected, tolerance)                                                       \
    winecheck::Near((got), (expected), (tolerance), #got " ~ " #expected, __FILE__, __LINE__)
#define WINE_CHECK_RESULT() (winecheck::Failures() == 0 ? 0 : 1)
