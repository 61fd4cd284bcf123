// The unpack-and-replace pass of a finished update.
//
// For each entry ("name.ext.lzf"): expand download dir + entry into download
// dir + name with ExpandFile of Kelpix.dll (ordinal 4, looked up only when
// there is something to expand, so the module loads without that library);
// then move install dir + name aside to ".bak", move the expanded file in,
// and drop the ".bak".
#pragma once

#include <string>
#include <vector>

// The entry cut at its first ".lzf" (only when that is not its first character).
std::string UnpackedName(const std::string& entry);

// True when every entry was expanded (an empty list is); the replacement
// steps run only then and their failures are not examined.
bool RunUnpackPass(const std::vector<std::string>& entries, const std::string& downloadDir,
                   const std::string& installDir);
