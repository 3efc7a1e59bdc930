#pragma once

// The library is built with hidden visibility; only what carries this macro is exported.
#if defined(FV_TRANSFERS_BUILDING)
#define FV_TRANSFERS_API __attribute__((visibility("default")))
#else
#define FV_TRANSFERS_API
#endif
