"""Just enough of the PE format to check the installer executable: its header fields, sections,
imported DLLs and resources (type -> name -> language -> bytes)."""
import struct
from pathlib import Path


class PeFile:
    def __init__(self, path):
        self.data = Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.time_stamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", d, optional)[0]
        self.is_64bit = magic == 0x20B
        self.headers_size = struct.unpack_from("<I", d, optional + 60)[0]
        self.checksum_offset = optional + 64
        self.checksum = struct.unpack_from("<I", d, self.checksum_offset)[0]
        self.subsystem = struct.unpack_from("<H", d, optional + 68)[0]
        self.dll_characteristics = struct.unpack_from("<H", d, optional + 70)[0]
        directories = optional + (112 if self.is_64bit else 96)
        self.directories = [struct.unpack_from("<II", d, directories + 8 * i) for i in range(16)]
        # Directory 4, the certificate table (an Authenticode signature), is a file offset.
        self.certificate_entry_offset = directories + 8 * 4
        self.sections = []
        self.file_sections = []  # (name, file offset, bytes in the file)
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rawsize), rawptr))
            self.file_sections.append((name.rstrip(b"\0").decode(), rawptr, rawsize))
        # Hardening checks: each section's characteristics by name.
        self.section_flags = {
            struct.unpack_from("<8s", d, table + 40 * i)[0].rstrip(b"\0").decode():
                struct.unpack_from("<I", d, table + 40 * i + 36)[0] for i in range(sections)}

    def computed_checksum(self):
        """The image checksum as the Windows loader computes it: the file's 16-bit words summed
        with end-around carry (the checksum field counted as zero), plus the file length."""
        d = bytearray(self.data)
        d[self.checksum_offset:self.checksum_offset + 4] = b"\0\0\0\0"
        if len(d) % 2:
            d.append(0)
        total = sum(struct.unpack_from(f"<{len(d) // 2}H", d))
        while total > 0xFFFF:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)

    def part_at(self, offset):
        """What holds the byte at a file offset: "headers", a section's name, the signature, or
        "data after the last section"."""
        if offset < self.headers_size:
            return "headers"
        for name, start, size in self.file_sections:
            if start <= offset < start + size:
                return name
        table, table_size = self.directories[4]
        if table <= offset < table + table_size:
            return "signature"
        return "data after the last section"

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} outside every section")

    def _cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self, directory=1):
        """Names of the DLLs in the import table (directory 1) or the delay-load table (13)."""
        rva, size = self.directories[directory]
        names = []
        if rva == 0 or size == 0:
            return names
        position = self.offset(rva)
        entry_size, name_field = (20, 12) if directory == 1 else (32, 4)
        while True:
            entry = self.data[position:position + entry_size]
            if entry == b"\0" * entry_size:
                return names
            names.append(self._cstring(struct.unpack_from("<I", entry, name_field)[0]))
            position += entry_size

    def imported_functions(self, dll):
        """Names (or "#ordinal") of what the import table takes from `dll`, matched case-insensitively."""
        rva, size = self.directories[1]
        if rva == 0 or size == 0:
            return []
        thunk_size, ordinal_flag = (8, 1 << 63) if self.is_64bit else (4, 1 << 31)
        position = self.offset(rva)
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, position)
            if name == 0:
                return []
            if self._cstring(name).lower() == dll.lower():
                break
            position += 20
        functions = []
        at = self.offset(lookup or first_thunk)
        while True:
            thunk = int.from_bytes(self.data[at:at + thunk_size], "little")
            if thunk == 0:
                return functions
            functions.append(f"#{thunk & 0xFFFF}" if thunk & ordinal_flag else self._cstring((thunk & 0x7FFFFFFF) + 2))
            at += thunk_size

    def resources(self):
        """{type: {name: {language: bytes}}}; ids are ints, names are strings."""
        rva, _ = self.directories[2]
        if rva == 0:
            return {}
        base = self.offset(rva)

        def key(value):
            if value & 0x80000000:
                at = base + (value & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return value

        def directory(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                yield key(name), target

        tree = {}
        for type_key, type_target in directory(base):
            for name_key, name_target in directory(base + (type_target & 0x7FFFFFFF)):
                for language, leaf in directory(base + (name_target & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    tree.setdefault(type_key, {}).setdefault(name_key, {})[language] = self.data[start:start + size]
        return tree


def version_strings(block):
    """String values of a VS_VERSIONINFO resource: {table: {name: value}} plus the fixed versions."""
    result = {"strings": {}, "translation": None}

    def read_node(at):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        end = block.index(b"\0\0", at + 6)
        while (end - (at + 6)) % 2:
            end = block.index(b"\0\0", end + 1)
        key = block[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        return length, value_length, kind, key, value_at

    length, value_length, _, key, value_at = read_node(0)
    assert key == "VS_VERSION_INFO"
    fixed = struct.unpack_from("<13I", block, value_at)
    result["file_version"] = (fixed[2] >> 16, fixed[2] & 0xFFFF, fixed[3] >> 16, fixed[3] & 0xFFFF)
    result["product_version"] = (fixed[4] >> 16, fixed[4] & 0xFFFF, fixed[5] >> 16, fixed[5] & 0xFFFF)
    child = (value_at + value_length + 3) & ~3
    while child < length:
        child_length, _, _, child_key, child_value = read_node(child)
        if child_key == "StringFileInfo":
            table = child_value
            while table < child + child_length:
                table_length, _, _, table_key, entry = read_node(table)
                strings = result["strings"].setdefault(table_key, {})
                while entry < table + table_length:
                    entry_length, entry_value_length, _, name, value_at2 = read_node(entry)
                    raw = block[value_at2:value_at2 + 2 * entry_value_length].decode("utf-16-le")
                    strings[name] = raw.rstrip("\0")
                    entry = (entry + entry_length + 3) & ~3
                table = (table + table_length + 3) & ~3
        elif child_key == "VarFileInfo":
            var_length, var_value_length, _, _, var_value = read_node(child_value)
            result["translation"] = struct.unpack_from("<HH", block, var_value)
        child = (child + child_length + 3) & ~3
    return result
