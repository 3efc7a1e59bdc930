#pragma once

#include "shell/NativeUiDataHolder.h"

namespace ferrovan {

// A modal dialog of the shell. getNativeWindow gives its window while it exists and null before
// showModal and once it has ended, so nothing reaches a dead window through it.
class IFvDialog : public INativeUiDataHolder {
public:
    ~IFvDialog() override = default;
    // Runs the dialog over its parent and returns once it has ended: true when it was confirmed
    // (OK, Submit), false when cancelled, closed or ended by close().
    virtual bool showModal() = 0;
    virtual void hide() = 0;
    // Ends a running dialog as not confirmed; nothing when none runs.
    virtual void close() = 0;
    virtual void show() = 0;
};

} // namespace ferrovan
