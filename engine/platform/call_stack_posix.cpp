#include "engine/platform/call_stack.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kor {

int CaptureCallStack(uintptr_t* addresses, int max) {
  if (max <= 0) return 0;
  void* frames[64];
  int wanted = max + 1 < 64 ? max + 1 : 64;
  int count = backtrace(frames, wanted);
  // Frame 0 is this function itself; the caller wants its own return address first.
  int stored = 0;
  for (int i = 1; i < count && stored < max; ++i) {
    addresses[stored++] = reinterpret_cast<uintptr_t>(frames[i]);
  }
  return stored;
}

namespace {

std::string Demangle(const char* name) {
  int status = 0;
  char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || plain == nullptr) return name;
  std::string result(plain);
  free(plain);
  return result;
}

// A read-only mapping of a whole file, unmapped on scope exit.
class TMappedFile {
 public:
  explicit TMappedFile(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
      void* data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (data != MAP_FAILED) {
        Data = static_cast<const unsigned char*>(data);
        Size = static_cast<size_t>(info.st_size);
      }
    }
    close(fd);
  }
  ~TMappedFile() {
    if (Data != nullptr) munmap(const_cast<unsigned char*>(Data), Size);
  }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  bool Holds(uint64_t offset, uint64_t length) const {
    return Data != nullptr && offset <= Size && length <= Size - offset;
  }

  const unsigned char* Data = nullptr;
  size_t Size = 0;
};

// Looks `offset` (an address relative to the module's load base, or absolute
// for a fixed-address executable) up in the ELF symbol table of the module
// file. Every header read is bounds-checked: the file is trusted no more than
// any other input.
std::string FindElfSymbol(const char* modulePath, uint64_t offset, uint64_t* symbolStart) {
  TMappedFile file(modulePath);
  if (!file.Holds(0, sizeof(Elf64_Ehdr))) return {};
  Elf64_Ehdr header;
  memcpy(&header, file.Data, sizeof header);
  if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    return {};
  }
  if (header.e_shentsize != sizeof(Elf64_Shdr)) return {};
  uint64_t sectionBytes = uint64_t{header.e_shnum} * sizeof(Elf64_Shdr);
  if (!file.Holds(header.e_shoff, sectionBytes)) return {};
  auto section = [&](uint32_t index) {
    Elf64_Shdr s;
    memcpy(&s, file.Data + header.e_shoff + uint64_t{index} * sizeof(Elf64_Shdr), sizeof s);
    return s;
  };
  for (uint32_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_SYMTAB && symbols.sh_type != SHT_DYNSYM) continue;
    if (symbols.sh_entsize != sizeof(Elf64_Sym) || symbols.sh_link >= header.e_shnum) continue;
    if (!file.Holds(symbols.sh_offset, symbols.sh_size)) continue;
    Elf64_Shdr strings = section(symbols.sh_link);
    if (!file.Holds(strings.sh_offset, strings.sh_size)) continue;
    uint64_t count = symbols.sh_size / sizeof(Elf64_Sym);
    for (uint64_t k = 0; k < count; ++k) {
      Elf64_Sym symbol;
      memcpy(&symbol, file.Data + symbols.sh_offset + k * sizeof(Elf64_Sym), sizeof symbol);
      if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_value == 0) continue;
      if (offset < symbol.st_value || offset - symbol.st_value >= symbol.st_size) continue;
      if (symbol.st_name >= strings.sh_size) continue;
      const char* name =
          reinterpret_cast<const char*>(file.Data + strings.sh_offset + symbol.st_name);
      size_t room = strings.sh_size - symbol.st_name;
      if (strnlen(name, room) == room) continue;
      *symbolStart = symbol.st_value;
      return Demangle(name);
    }
  }
  return {};
}

}  // namespace

std::string SymbolizeAddress(uintptr_t address) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(address), &info) == 0 || info.dli_fname == nullptr) return {};
  const char* module = strrchr(info.dli_fname, '/');
  module = module != nullptr ? module + 1 : info.dli_fname;

  std::string name;
  uint64_t start = 0;
  if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
    name = Demangle(info.dli_sname);
    start = reinterpret_cast<uintptr_t>(info.dli_saddr);
  } else {
    uint64_t base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    uint64_t relative = address - base;
    name = FindElfSymbol(info.dli_fname, relative, &start);
    if (name.empty()) {
      // A fixed-address executable stores absolute addresses in its table.
      name = FindElfSymbol(info.dli_fname, address, &start);
    } else {
      start += base;
    }
  }
  char tail[64];
  if (name.empty()) {
    snprintf(
        tail, sizeof tail, "+0x%llx",
        static_cast<unsigned long long>(address - reinterpret_cast<uintptr_t>(info.dli_fbase)));
    return std::string(module) + tail;
  }
  snprintf(tail, sizeof tail, "+0x%llx (", static_cast<unsigned long long>(address - start));
  return name + tail + module + ")";
}

}  // namespace kor
