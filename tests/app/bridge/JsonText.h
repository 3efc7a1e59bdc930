#pragma once

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <sstream>
#include <string>

namespace fv_test {

// A JSON text as the page would send it; a text that does not parse fails the test.
inline Json::Value parseJson(const std::string& text)
{
    Json::Value value;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << text;
    return value;
}

// The compact text of a value, so that a 4 read back equals the unsigned 4 written.
inline std::string compactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

} // namespace fv_test
