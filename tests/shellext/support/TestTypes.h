#pragma once

#include <glib-object.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace fv_test {

// Registers a plain GObject-derived test type with only a class initialiser.
GType registerTestType(GType parent, const char* name, guint classSize, GClassInitFunc classInit, guint instanceSize);

// A table row's test name from its description: letters and digits kept, the rest '_'.
template <typename Row> std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* c = info.param.what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

} // namespace fv_test
