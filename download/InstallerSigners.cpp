#include "download/InstallerSignature.h"

const wchar_t* InstallerSigners()
{
    return L"" VANTORIMA_INSTALLER_SIGNERS;
}
