// Language files in real temporary directories, seen by the library through the user-mode
// model as the system directory and the current directory.
#pragma once

#include "message_translator.h"
#include "user_model.h"
#include "zel_lng.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace zeltest {

constexpr size_t kText = zel_lng::kTextSize;

// The 1024 bytes a caller should get back for `text`.
inline std::string Padded(const std::string& text) {
    return text + std::string(kText - text.size(), '\0');
}

class LngTest : public ::testing::Test {
  protected:
    std::string root, systemDir, currentDir, otherDir;

    void SetUp() override {
        char pattern[] = "/tmp/zel_lng_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        systemDir = root + "/system32";
        currentDir = root + "/work";
        otherDir = root + "/other";
        for (auto* dir : {&systemDir, &currentDir, &otherDir})
            std::filesystem::create_directory(*dir);
        um::Reset();
        um::SetSystemDirectory(systemDir);
        um::SetCurrentDirectory(currentDir);
    }

    void TearDown() override {
        EXPECT_EQ(um::OpenHandleCount(), 0) << "a file handle was left open";
        um::Reset();
        std::filesystem::remove_all(root);
    }

    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // Calls an export with a buffer that starts out all 0xAA, so that every byte the call
    // leaves unwritten shows, and with a guard after the 1024 bytes that must stay intact.
    static std::string Call(TraduceProc translate, WORD number) {
        char buffer[kText + 64];
        std::memset(buffer, 0xAA, sizeof buffer);
        translate(number, buffer);
        for (size_t i = kText; i < sizeof buffer; ++i)
            if (buffer[i] != char(0xAA)) {
                ADD_FAILURE() << "byte " << i << " written past the text buffer";
                break;
            }
        return std::string(buffer, kText);
    }
};

} // namespace zeltest
