"""The few PE facts the build's tools read and write: the optional header's
place and kind, the data directories, and the file bytes behind an address.
One reader for tools/load-config.py and the launcher's import check."""
import struct

LOAD_CONFIG = 10  # the load configuration's data directory


class PeImage:
    def __init__(self, data, name="image"):
        self.data, self.name = data, name
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError(f"{name}: not a PE image")
        self.optional = self.pe + 24
        magic = struct.unpack_from("<H", data, self.optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"{name}: unknown optional header {magic:#x}")
        self.is64 = magic == 0x20B
        self.base = struct.unpack_from("<Q", data, self.optional + 24)[0] if self.is64 else \
            struct.unpack_from("<I", data, self.optional + 28)[0]
        self.directories = self.optional + (112 if self.is64 else 96)
        self.checksum_at = self.optional + 64

    def directory(self, index):
        """(rva, size) of a data directory."""
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def set_directory(self, index, rva, size):
        struct.pack_into("<II", self.data, self.directories + 8 * index, rva, size)

    def offset(self, rva):
        """The file offset of the bytes at rva, or None when no section holds them."""
        sections = self.optional + struct.unpack_from("<H", self.data, self.pe + 20)[0]
        for i in range(struct.unpack_from("<H", self.data, self.pe + 6)[0]):
            size, start, raw_size, raw = struct.unpack_from("<IIII", self.data, sections + 40 * i + 8)
            if start <= rva < start + min(size, raw_size):
                return raw + rva - start
        return None

    def update_checksum(self):
        """The image's checksum, as the linker writes it, over the bytes as they are now."""
        struct.pack_into("<I", self.data, self.checksum_at, 0)
        padded = self.data + b"\0" * (len(self.data) % 2)
        total = 0
        for (word,) in struct.iter_unpack("<H", padded):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        struct.pack_into("<I", self.data, self.checksum_at, ((total + (total >> 16)) & 0xFFFF) + len(self.data))
