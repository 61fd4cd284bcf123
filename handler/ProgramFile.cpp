#include "handler/ProgramFile.h"

#include <cstddef>
#include <vector>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"

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

// A block of a version resource: its length, value length, type, key and
// where its value and children are (offsets within the resource).
struct VersionBlock {
    size_t start = 0, end = 0, value = 0, children = 0;
    WORD valueLength = 0;
    const wchar_t* key = nullptr;
    size_t keyLength = 0;
};

size_t Aligned(size_t at)
{
    return (at + 3) & ~size_t(3);
}

bool ReadBlock(const unsigned char* resource, size_t length, size_t at, bool text, VersionBlock& block)
{
    WORD header[3];
    if (at > length || length - at < sizeof header)
        return false;
    CopyMemory(header, resource + at, sizeof header);
    if (header[0] < sizeof header || header[0] > length - at)
        return false;
    block.start = at, block.end = at + header[0], block.valueLength = header[1];
    size_t key = at + sizeof header, keyEnd = key;
    while (keyEnd + 2 <= block.end && (resource[keyEnd] | resource[keyEnd + 1]))
        keyEnd += 2;
    if (keyEnd + 2 > block.end)
        return false;
    block.key = reinterpret_cast<const wchar_t*>(resource + key);
    block.keyLength = (keyEnd - key) / 2;
    block.value = Aligned(keyEnd + 2);
    // A text value's length counts characters, a binary one's bytes.
    const size_t valueBytes = text ? size_t(header[1]) * 2 : header[1];
    if (block.value > block.end || block.end - block.value < valueBytes)
        return false;
    block.children = Aligned(block.value + valueBytes);
    return true;
}

bool KeyIs(const VersionBlock& block, const wchar_t* key)
{
    return static_cast<size_t>(lstrlenW(key)) == block.keyLength &&
        CompareStringW(LOCALE_INVARIANT, 0, block.key, static_cast<int>(block.keyLength), key,
                       static_cast<int>(block.keyLength)) == CSTR_EQUAL;
}

// The string values of interest from the first string table of the
// version resource's StringFileInfo.
void ReadStrings(const unsigned char* resource, const VersionBlock& root, ProgramIdentity& identity)
{
    for (size_t at = root.children; at < root.end;) {
        VersionBlock info;
        if (!ReadBlock(resource, root.end, at, false, info))
            return;
        at = Aligned(info.end);
        if (!KeyIs(info, L"StringFileInfo"))
            continue;
        VersionBlock table;
        if (!ReadBlock(resource, info.end, info.children, false, table))
            return;
        for (size_t item = table.children; item < table.end;) {
            VersionBlock entry;
            if (!ReadBlock(resource, table.end, item, true, entry))
                return;
            item = Aligned(entry.end);
            // Its value: text up to its terminator, within the block.
            const auto* text = reinterpret_cast<const wchar_t*>(resource + entry.value);
            size_t chars = 0;
            while (chars < entry.valueLength && entry.value + 2 * chars + 2 <= entry.end && text[chars])
                ++chars;
            WideText* value = KeyIs(entry, L"OriginalFilename") ? &identity.originalFilename
                : KeyIs(entry, L"ProductName")                  ? &identity.productName
                                                                : nullptr;
            if (value) {
                value->assign(text, text + chars);
                value->push_back(L'\0');
            }
        }
        return;
    }
}

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
    VersionBlock root;
    VS_FIXEDFILEINFO fixed;
    if (!resource || !ReadBlock(resource, length, 0, false, root) || !KeyIs(root, L"VS_VERSION_INFO") ||
        root.valueLength != sizeof fixed)
        return identity;
    CopyMemory(&fixed, resource + root.value, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return identity;
    identity.version = (static_cast<unsigned long long>(fixed.dwFileVersionMS) << 32) | fixed.dwFileVersionLS;
    ReadStrings(resource, root, identity);
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
