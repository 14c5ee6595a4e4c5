#pragma once

#include <cstdint>
#include <string>

#include "engine/streams/reader.h"

namespace kor {

// The eight settings of the configuration file "CONFIG.ZSR", in the order
// the file must give them, each as its keyword followed by its value:
//
//   KEYWORD               VALUE       ACCEPTED       USED FOR
//   TIMEAUTOINCID         identifier  a counter      the transaction time counter
//   INDEXFILENAME         string      file name      the temporary index file
//   INDEXFILECLUSTERSHL   integer     6..20          index page size = 2^value bytes
//   INDEXFILEMINBUFFER    integer     any            page buffers the index file starts with
//   STRUCTFILENAME        string      file name      the structure file (tables, comparators)
//   INETPORT              integer     1024..16383    TCP port of the server
//   AUTOINCFILENAME       string      file name      the counter file
//   INPUTTIMEOUT          integer     any            client read time-out in seconds; <= 0: none
//
// Keywords are recognised without regard to case. No setting has a default,
// and nothing after the eighth value is read.
struct TEngineSettings {
  std::string TimeAutoincId;
  std::string IndexFileName;
  int32_t IndexFileClusterShl = 0;
  int32_t IndexFileMinBuffer = 0;
  std::string StructFileName;
  int32_t InetPort = 0;
  std::string AutoincFileName;
  int32_t InputTimeout = 0;
};

// Reads the eight settings. Raises EReaderSyntaxError for a keyword that is
// missing, misspelt or out of order, a value of the wrong kind or out of its
// range, and EReaderEof when the text ends inside the sequence. Borrows the
// reader.
TEngineSettings ReadEngineSettings(TReader& reader);

}  // namespace kor
