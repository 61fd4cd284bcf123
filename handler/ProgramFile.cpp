#include "handler/ProgramFile.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "handler/VersionResource.h"

namespace {

// The file's bytes, from its start (at most 64 MiB, as no launcher is near).
bool ReadWhole(HANDLE file, std::vector<unsigned char>& bytes)
{
    const DWORD size = GetFileSize(file, nullptr);
    if (LOG_LAST_ERROR_IF(size == INVALID_FILE_SIZE) || size == 0 || size > (64u << 20))
        return false;
    bytes.resize(size);
    DWORD read = 0;
    return !LOG_LAST_ERROR_IF(SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) &&
        LOG_IF_WIN32_BOOL_FALSE(ReadFile(file, bytes.data(), size, &read, nullptr)) && read == size;
}

// A PE image's bytes, read as its headers describe it. Every offset and
// length comes from the file and is checked against its size before use.
class CImageBytes {
public:
    explicit CImageBytes(const std::vector<unsigned char>& bytes) : m_bytes(bytes) {}

    template <typename T>
    bool Read(size_t at, T& out) const
    {
        if (at > m_bytes.size() || m_bytes.size() - at < sizeof(T))
            return false;
        CopyMemory(&out, m_bytes.data() + at, sizeof(T));
        return true;
    }
    const unsigned char* At(size_t at, size_t length) const
    {
        return at <= m_bytes.size() && m_bytes.size() - at >= length ? m_bytes.data() + at : nullptr;
    }

    // The headers: machine, and where the resource directory and the
    // section table are.
    bool ReadHeaders()
    {
        IMAGE_DOS_HEADER dos;
        DWORD signature = 0;
        IMAGE_FILE_HEADER file;
        WORD magic = 0;
        if (!Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 || !Read(dos.e_lfanew, signature) ||
            signature != IMAGE_NT_SIGNATURE || !Read(dos.e_lfanew + 4, file))
            return false;
        const size_t optional = dos.e_lfanew + 4 + sizeof file;
        if (!Read(optional, magic))
            return false;
        size_t directories = 0, count = 0;
        if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
            count = optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
        } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
            count = optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
        } else {
            return false;
        }
        DWORD directoryCount = 0;
        if (!Read(count, directoryCount) || directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE ||
            !Read(directories + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof(IMAGE_DATA_DIRECTORY), m_resources))
            return false;
        m_machine = file.Machine;
        m_sections = optional + file.SizeOfOptionalHeader;
        m_sectionCount = file.NumberOfSections;
        return true;
    }
    WORD Machine() const { return m_machine; }

    // The file offset of an address of the loaded image, with at least
    // length bytes of the file behind it in the same section.
    bool Offset(DWORD rva, DWORD length, size_t& at) const
    {
        for (size_t i = 0; i < m_sectionCount; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!Read(m_sections + i * sizeof section, section))
                return false;
            const DWORD inFile = section.SizeOfRawData;
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < inFile &&
                inFile - (rva - section.VirtualAddress) >= length) {
                at = section.PointerToRawData + (rva - section.VirtualAddress);
                return At(at, length) != nullptr;
            }
        }
        return false;
    }

    // The first entry of the resource directory at level with id (or any
    // entry: id 0): the entry's offset within the resource section.
    bool ResourceEntry(DWORD directory, WORD id, DWORD& entry) const
    {
        size_t at = 0;
        IMAGE_RESOURCE_DIRECTORY header;
        if (!Offset(m_resources.VirtualAddress + directory, sizeof header, at) || !Read(at, header))
            return false;
        const size_t count = static_cast<size_t>(header.NumberOfNamedEntries) + header.NumberOfIdEntries;
        for (size_t i = 0; i < count; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY item;
            if (!Read(at + sizeof header + i * sizeof item, item))
                return false;
            if (id != 0 && (item.Name & 0x80000000u || item.Name != id))
                continue;
            entry = item.OffsetToData;
            return true;
        }
        return false;
    }

    // The version resource (RT_VERSION, id 1, its first language): its bytes.
    const unsigned char* VersionResource(DWORD& length) const
    {
        DWORD type = 0, name = 0, language = 0;
        if (!m_resources.VirtualAddress || !ResourceEntry(0, 16, type) || !(type & 0x80000000u) ||
            !ResourceEntry(type & 0x7FFFFFFFu, 1, name) || !(name & 0x80000000u) ||
            !ResourceEntry(name & 0x7FFFFFFFu, 0, language) || (language & 0x80000000u))
            return nullptr;
        size_t at = 0;
        IMAGE_RESOURCE_DATA_ENTRY data;
        if (!Offset(m_resources.VirtualAddress + language, sizeof data, at) || !Read(at, data) ||
            !Offset(data.OffsetToData, data.Size, at))
            return nullptr;
        length = data.Size;
        return At(at, length);
    }

private:
    const std::vector<unsigned char>& m_bytes;
    IMAGE_DATA_DIRECTORY m_resources = {};
    size_t m_sections = 0, m_sectionCount = 0;
    WORD m_machine = 0;
};

// What the file says it is. Read from the file, not loaded: a module of
// the same name that runs here would be taken for it.
ProgramIdentity ReadIdentity(HANDLE file)
{
    ProgramIdentity identity;
    std::vector<unsigned char> bytes;
    if (!ReadWhole(file, bytes))
        return identity;
    CImageBytes image(bytes);
    if (!image.ReadHeaders())
        return identity;
    identity.machine = image.Machine();
    DWORD length = 0;
    const unsigned char* resource = image.VersionResource(length);
    VersionInfo info;
    if (!ReadVersionInfo(resource, length, info))
        return identity;
    identity.version = info.version;
    for (const auto& [text, value] : {std::pair(info.originalFilename, &identity.originalFilename),
                                      std::pair(info.productName, &identity.productName)}) {
        if (!text.found)
            continue;
        const auto* chars = reinterpret_cast<const wchar_t*>(resource + text.at);
        value->assign(chars, chars + text.length);
        value->push_back(L'\0');
    }
    return identity;
}

}  // namespace

WideText ProgramPath()
{
    // A program that is not long-path aware never runs from a longer path.
    wchar_t path[MAX_PATH];
    ModuleFileName(path);
    return WideJoin({path});
}

unsigned long long ProgramVersion(const wchar_t* path)
{
    const CFileHandle file(CreateFileW(path ? path : ProgramPath().data(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    return file ? ReadIdentity(file.Get()).version : 0;
}

ProgramIdentity OpenProgramIdentity(HANDLE file)
{
    return ReadIdentity(file);
}

WideText VersionText(unsigned long long version)
{
    wchar_t text[48];
    wsprintfW(text, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48), static_cast<unsigned>(version >> 32) & 0xFFFF,
              static_cast<unsigned>(version >> 16) & 0xFFFF, static_cast<unsigned>(version) & 0xFFFF);
    return WideJoin({text});
}

bool RunsFrom(const WideText& path)
{
    return lstrcmpiW(ProgramPath().data(), path.data()) == 0;
}
