#pragma once

#include "browser/ApplicationMenuCallback.h"

#include <Poco/Any.h>

#include <string>
#include <vector>

namespace fv_test {

// Keeps each item the menu hands on as its kind, followed by " true" or " false" for a check
// item's state.
class RecordingMenuCallback : public ferrovan::IApplicationMenuCallback {
public:
    void onMenuItem(int kind, const Poco::Any& argument) override
    {
        std::string text = std::to_string(kind);
        if (!argument.empty())
            text += Poco::AnyCast<bool>(argument) ? " true" : " false";
        calls.push_back(text);
    }

    std::vector<std::string> calls;
};

} // namespace fv_test
