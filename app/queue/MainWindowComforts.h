#pragma once

#include <QObject>
#include <QString>

class frmUpload;

// The main window's comforts: its place on the screen kept between runs, the interface language
// for the next start, the About box, and state names shown in the user's language while the
// queue keeps the stored ones.
class MainWindowComforts : public QObject {
  Q_OBJECT

 public:
  explicit MainWindowComforts(frmUpload& window);

  // The setting that names the interface language; empty for the automatic choice.
  static QString LanguageSetting();
  // The About text: version, where the queue, the log and the settings are kept, the README.
  static QString AboutText();
  void ShowAbout();

 private:
  void FillLanguages();
  void LanguageChosen(int index);

  frmUpload& window_;
};
