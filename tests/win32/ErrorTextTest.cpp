// Error texts of the system and of the internet library.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include "download/ErrorText.h"

TEST(ErrorText, EveryCodeHasAReadableTextWithoutLineEnd)
{
    std::vector<DWORD> codes = {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND, ERROR_HANDLE_DISK_FULL, 10054, 0xDEADBEEF};
    for (DWORD code = INTERNET_ERROR_BASE + 1; code <= INTERNET_ERROR_LAST; ++code)
        codes.push_back(code);
    for (DWORD code : codes) {
        const std::string text = code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST ? InternetErrorText(code)
                                                                                            : SystemErrorText(code);
        EXPECT_GE(text.size(), 5u) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    }
}

TEST(ErrorText, CodesWithoutATextAreNamedByTheirNumber)
{
    EXPECT_NE(SystemErrorText(0xDEADBEEF).find("3735928559"), std::string::npos);
    // Past the internet library's range: taken as a system code.
    EXPECT_NE(InternetErrorText(0xDEADBEEF).find("3735928559"), std::string::npos);
    const std::string cannotConnect = InternetErrorText(ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_FALSE(cannotConnect.empty());
}
