#include "installer/deploy/options.h"

#include <bitset>

namespace zinst {

namespace {

// One option of the command line: a flag (Flag set) or an option with a value
// written "--name=value" (Value and Placeholder set).
struct TOptionEntry {
  const char* Name;
  bool TInstallOptions::*Flag;
  QString TInstallOptions::*Value;
  const char* Placeholder;
  bool SilentOnly;
  const char* Help;  // its line in the --help text
};

const TOptionEntry kOptions[] = {
    {"--silent", &TInstallOptions::Silent, nullptr, nullptr, false,
     "instalacja bez okien i bez pytań (nie wymaga ekranu)"},
    {"--accept-licence", &TInstallOptions::AcceptLicence, nullptr, nullptr, true,
     "akceptuje warunki licencji; bez niej --silent nie instaluje"},
    {"--dest", nullptr, &TInstallOptions::Dest, "KATALOG", true,
     "katalog docelowy (domyślnie katalog proponowany przez kreator)"},
    {"--no-desktop", &TInstallOptions::NoDesktop, nullptr, nullptr, true,
     "bez skrótów na pulpicie"},
    {"--no-menu", &TInstallOptions::NoMenu, nullptr, nullptr, true,
     "bez grupy i skrótów w menu programów"},
    {"--log", nullptr, &TInstallOptions::LogFile, "PLIK", false,
     "zapisuje dziennik instalacji, wiersz na krok (także w kreatorze)"},
    {"--help", &TInstallOptions::Help, nullptr, nullptr, false, "wypisuje ten opis"},
};
constexpr size_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

QString Name(const TOptionEntry& option) { return QString::fromLatin1(option.Name); }

// The usage form of an option: "--dest=KATALOG" or "--silent".
QString Usage(const TOptionEntry& option) {
  return option.Placeholder == nullptr
             ? Name(option)
             : Name(option) + QLatin1Char('=') + QString::fromLatin1(option.Placeholder);
}

}  // namespace

QString ParseOptions(const QStringList& arguments, TInstallOptions& options) {
  options = TInstallOptions();
  std::bitset<kOptionCount> seen;
  for (const QString& argument : arguments) {
    const qsizetype eq = argument.indexOf(QLatin1Char('='));
    const QString name = eq < 0 ? argument : argument.left(eq);
    size_t index = 0;
    while (index < kOptionCount && name != Name(kOptions[index])) ++index;
    if (index == kOptionCount) {
      return argument.startsWith(QLatin1Char('-'))
                 ? QStringLiteral("nieznana opcja: ") + argument
                 : QStringLiteral("nieoczekiwany argument: ") + argument;
    }
    const TOptionEntry& option = kOptions[index];
    if (seen[index]) return QStringLiteral("opcja %1 podana więcej niż raz").arg(name);
    seen[index] = true;
    if (option.Flag != nullptr) {
      if (eq >= 0) return QStringLiteral("opcja %1 nie przyjmuje wartości").arg(name);
      options.*option.Flag = true;
      continue;
    }
    const QString value = eq < 0 ? QString() : argument.mid(eq + 1);
    if (value.isEmpty()) {
      return QStringLiteral("opcja %1 wymaga wartości: %2").arg(name, Usage(option));
    }
    options.*option.Value = value;
  }
  if (options.Silent) return {};
  for (size_t index = 0; index < kOptionCount; ++index) {
    if (seen[index] && kOptions[index].SilentOnly) {
      return QStringLiteral("opcja %1 działa tylko z --silent").arg(Name(kOptions[index]));
    }
  }
  return {};
}

QString HelpText() {
  QString text = QStringLiteral(
      "Użycie: installer [opcje]\n"
      "\n"
      "Instalator czyta skrypt config.ini ze swojego katalogu. Uruchomiony bez opcji\n"
      "otwiera kreator instalacji.\n"
      "\n"
      "Opcje:\n");
  for (const TOptionEntry& option : kOptions) {
    text += QStringLiteral("  %1 %2\n").arg(Usage(option), -18).arg(QString::fromUtf8(option.Help));
  }
  text += QStringLiteral(
      "\n"
      "Kody wyjścia (w obu trybach):\n"
      "  0  program zainstalowany (także po --help)\n"
      "  1  instalacja nie powiodła się\n"
      "  2  przerwano przed instalacją: zamknięte okno, brak --accept-licence,\n"
      "     brak wolnego miejsca w katalogu docelowym\n"
      "  3  błędne opcje, brak lub błąd skryptu config.ini, dziennik nie do zapisania\n"
      "\n"
      "Przykład:\n"
      "  installer --silent --accept-licence --dest=/opt/Firma/Edytor --no-desktop \\\n"
      "            --log=/var/log/edytor-install.log\n");
  return text;
}

}  // namespace zinst
