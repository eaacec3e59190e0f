#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"

// Every test of this program runs with user defaults in a scratch folder (never the user's
// own), the comparison locale "en_US" and the calendar of "en_US" in "Europe/Berlin".
class TokenizerTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("zel-tokenizer-tests-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(folder_);
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        ZELSetLocaleForUniformZELStringComparison("en_US");
        ASSERT_TRUE(ZELDateTokenizer::setCalendar("Europe/Berlin", "en_US"));
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::filesystem::path folder_;
};

static ::testing::Environment* const kTokenizerTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new TokenizerTestEnvironment);
