#pragma once

#include "shell/FvDialog.h"

namespace fv_test {

// A dialog of the shell (`Dialog`, an IFvDialog) whose modal run is the test's: it has a window
// while runModal runs, and hiding, showing and closing do nothing.
template <typename Dialog> class ModalDialogFake : public Dialog {
public:
    void* getNativeWindow() override { return m_shown ? this : nullptr; }
    bool showModal() override
    {
        m_shown = true;
        const bool confirmed = runModal();
        m_shown = false;
        return confirmed;
    }
    void hide() override {}
    void close() override {}
    void show() override {}

protected:
    virtual bool runModal() = 0;

private:
    bool m_shown = false;
};

} // namespace fv_test
