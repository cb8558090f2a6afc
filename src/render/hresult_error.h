#pragma once
// The renderer's one failure path for platform calls: "{operation} failed with HRESULT
// 0x{code:08X}", the code as unsigned 32 bits in upper-case hexadecimal.

#include <string>

#include "base/types.h"

namespace kestrune::render {

std::string hresultErrorMessage(const char* operation, u32 hr);
[[noreturn]] void ThrowHResultError(const char* operation, u32 hr);

}  // namespace kestrune::render
