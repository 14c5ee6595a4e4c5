#pragma once

// The macro benchmark's Kor database, written into the working directory:
// CONFIG.ZSR, the structure file and the counter file. One table T (ID
// INTEGER 8 with a unique index, NAME STRING 30, AMOUNT DOUBLE); the NAME
// index is the one a view in NAME order asks for. Index pages of 4096
// bytes and 4096 page buffers: 16 MB, as the peers' page caches.
//
// Protocol numbers: table 1; fields 1 ID, 2 NAME, 3 AMOUNT; comparators
// 1 BYNUMBER, 2 BYNAME. KOR_MACRO_BUFFERS, when set, replaces the 4096
// page buffers (the experiment with the pool's size in bench/README.md).

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kor::bench {

inline std::string KorConfig() {
  const char* buffers = std::getenv("KOR_MACRO_BUFFERS");
  return std::string(
             "TIMEAUTOINCID TIME\n"
             "INDEXFILENAME 'INDEX.TMP'\n"
             "INDEXFILECLUSTERSHL 12\n"
             "INDEXFILEMINBUFFER ") +
         (buffers != nullptr ? buffers : "4096") +
         "\n"
         "STRUCTFILENAME 'STRUCT.ZSR'\n"
         "INETPORT 7000\n"
         "AUTOINCFILENAME 'COUNTERS.ZSR'\n"
         "INPUTTIMEOUT 0\n";
}

constexpr char kKorStructure[] =
    "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
    "COMPFUNC BYNAME STRINGCOMPFUNC '-0123456789abcdef'\n"
    "TABLE T FILENAME 'T.TBL'\n"
    "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 30 FIELD AMOUNT DOUBLE END\n"
    "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
    "ENDTABLE\n"
    "END\n";

constexpr char kKorCounters[] = "TIME $1\r\n";

inline void WriteTextFile(const char* name, const char* text) {
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr || std::fputs(text, file) < 0 || std::fclose(file) != 0) {
    std::fprintf(stderr, "cannot write %s\n", name);
    std::exit(1);
  }
}

// A fresh, empty database in the working directory.
inline void CreateKorDatabase() {
  std::remove("T.TBL");
  WriteTextFile("CONFIG.ZSR", KorConfig().c_str());
  WriteTextFile("STRUCT.ZSR", kKorStructure);
  WriteTextFile("COUNTERS.ZSR", kKorCounters);
}

}  // namespace kor::bench
