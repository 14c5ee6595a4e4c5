/**
 * The Kor database from Java.
 *
 * <p>{@link tarvo.kor.Session} is where a program starts: it opens the
 * database (the engine in this process through libkorjni, or korserver over
 * a {@link tarvo.kor.Transport}), begins {@link tarvo.kor.Transaction}s and
 * reads the catalogue and counters. A transaction opens
 * {@link tarvo.kor.TableView}s, described by a {@link tarvo.kor.ViewDefinition}
 * (fields, order, {@link tarvo.kor.Lookup}s), that read and change
 * {@link tarvo.kor.ViewRecord}s. The wire protocol underneath is encoded by
 * the package itself; {@link tarvo.kor.KorLib} holds the library's four
 * native methods.
 */
package tarvo.kor;
