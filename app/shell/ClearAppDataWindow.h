#pragma once

#include "shell/FvDialog.h"

#include <memory>

namespace ferrovan {

// "Clear App Data And Restart": the user picks the kinds of data to clear.
class IClearAppDataWindow : public virtual IFvDialog {
public:
    // The choice as bits; the menu's restart command stores them: never renumber.
    static constexpr int kLocalTransfersDatabase = 1;
    static constexpr int kWebDataAndCache = 2;
    static constexpr int kLogFiles = 4;
    static constexpr int kLocalSettings = 8;

    class ICallback {
    public:
        virtual ~ICallback() = default;
        // Called on OK with the bits of the boxes then checked (0 for none). True lets the
        // dialog close; false (the user declined a confirmation) keeps it open for another try.
        virtual bool onClearAppData(int dataBits) = 0;
    };
};

// `callback` and `parent` are borrowed and may be null; without a callback OK just closes.
std::unique_ptr<IClearAppDataWindow> createClearAppDataWindow(IClearAppDataWindow::ICallback* callback,
                                                              INativeUiDataHolder* parent);

} // namespace ferrovan
