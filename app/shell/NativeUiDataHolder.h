#pragma once

namespace ferrovan {
class INativeUiDataHolder {
public:
    virtual ~INativeUiDataHolder() = default;
    virtual void* getNativeWindow() = 0;
};
} // namespace ferrovan
