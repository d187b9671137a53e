// Names for parameterised cases taken from their description: GoogleTest accepts only letters,
// digits and underscores, so every other character becomes an underscore.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// For INSTANTIATE_TEST_SUITE_P: names each case by its parameter's `what`.
struct NameByWhat {
    template <class Case> std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
        std::string name = info.param.what;
        for (char &c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    }
};
