package tarvo.kor;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * The database the client API tests open: written into the JVM's current
 * directory (the runner gives each JVM a fresh one), fresh for every test.
 *
 * <ul>
 *   <li>PEOPLE (ID, NAME, HEIGHT, AGE, CITY_ID), unique on ID; has a counter;
 *   <li>CITIES (ID, NAME), unique on ID and on NAME under the Polish collation;
 *   <li>WIDTHS, one field of each width the client encodes, unique on I8;
 *   <li>WIDE (N, TEXT of 5000 bytes), unique on N, for replies of megabytes.
 * </ul>
 * The counter file holds the commit clock TIME and a free counter INVOICE.
 */
final class TestDatabase {
  static final Path HERE = Paths.get(".");

  /** Polish letters in alphabetical order, upper and lower case equal, in windows-1250 codes. */
  static final String POLISH_COLLATION = "' -.0123456789A=a'#165'='#185'B=bC=c'#198'='#230"
      + "'D=dE=e'#202'='#234'F=fG=gH=hI=iJ=jK=kL=l'#163'='#179'M=mN=n'#209'='#241"
      + "'O=o'#211'='#243'P=pQ=qR=rS=s'#140'='#156'T=tU=uV=vW=wX=xY=yZ=z'#143'='#159#175'='#191";

  static final String CONFIG = String.join("\r\n",
      "TIMEAUTOINCID TIME",
      "INDEXFILENAME 'INDEX.TMP'",
      "INDEXFILECLUSTERSHL 12",
      "INDEXFILEMINBUFFER 16",
      "STRUCTFILENAME 'STRUCT.ZSR'",
      "INETPORT 7000",
      "AUTOINCFILENAME 'COUNTERS.ZSR'",
      "INPUTTIMEOUT 0",
      "");

  static final String STRUCTURE = String.join("\r\n",
      "COMPFUNC BYNUMBER INTEGERCOMPFUNC",
      "COMPFUNC POLISH STRINGCOMPFUNC " + POLISH_COLLATION,
      "COMPFUNC BYVALUE DOUBLECOMPFUNC",
      "TABLE PEOPLE FILENAME 'PEOPLE.TBL'",
      "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 20 FIELD HEIGHT DOUBLE",
      "    FIELD AGE INTEGER 2 FIELD CITY_ID INTEGER 8 END",
      "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END",
      "ENDTABLE",
      "TABLE CITIES FILENAME 'CITIES.TBL'",
      "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 30 END",
      "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END INDEX FIELD NAME POLISH END END",
      "ENDTABLE",
      "TABLE WIDTHS FILENAME 'WIDTHS.TBL'",
      "  RECORDTYPE FIELD I1 INTEGER 1 FIELD I2 INTEGER 2 FIELD I3 INTEGER 3 FIELD I4 INTEGER 4",
      "    FIELD I8 INTEGER 8 FIELD I12 INTEGER 12 FIELD S4 STRING 4 FIELD D DOUBLE END",
      "  UNIQUEINDEXES INDEX FIELD I8 BYNUMBER END END",
      "ENDTABLE",
      "TABLE WIDE FILENAME 'WIDE.TBL'",
      "  RECORDTYPE FIELD N INTEGER 4 FIELD TEXT STRING 5000 END",
      "  UNIQUEINDEXES INDEX FIELD N BYNUMBER END END",
      "ENDTABLE",
      "END",
      "");

  static final String COUNTERS = "TIME $1\r\nINVOICE $64\r\n";

  private TestDatabase() {}

  /** Writes the database (empty tables) into the current directory; no session may be open. */
  static void write() {
    write(STRUCTURE, COUNTERS);
  }

  /** Writes a database of the given structure and counter file. */
  static void write(String structure, String counters) {
    KorLib.KorDone();
    try {
      try (DirectoryStream<Path> tables = Files.newDirectoryStream(HERE, "*.TBL")) {
        for (Path table : tables) Files.delete(table);
      }
      Files.deleteIfExists(HERE.resolve("INDEX.TMP"));
      writeText("CONFIG.ZSR", CONFIG);
      writeText("STRUCT.ZSR", structure);
      writeText("COUNTERS.ZSR", counters);
    } catch (IOException e) {
      throw new UncheckedIOException(e);
    }
  }

  static Session open() {
    return Session.open(HERE);
  }

  private static void writeText(String name, String text) throws IOException {
    Files.write(HERE.resolve(name), text.getBytes(StandardCharsets.ISO_8859_1));
  }
}
