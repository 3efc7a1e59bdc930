#pragma once

#include "core/base/FvTransfersExport.h"

#include <string>

namespace fv_transfers {

// Masks secrets in a text that is about to be logged: values of JSON members, query
// parameters and header lines whose names mark them as secret (tokens, passwords,
// signatures, authorisation), and every query value of a full URL (signed URLs carry
// their credentials there). Log files are sent to the help desk, so every line goes
// through this. Exported: the main program's log goes to the help desk as well.
FV_TRANSFERS_API std::string redactSecrets(const std::string& text);

// True for names such as "token", "BucketToken", "x-fv-auth-token", "password", "Signature".
bool isSecretName(const std::string& name);

} // namespace fv_transfers
