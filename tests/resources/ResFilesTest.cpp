// The shipped interface texts in both languages: each file must stay readable by the section and
// key lookup (which gives up at the first node that is not an element), both must carry the same
// keys, and together they must cover every caption and message the windows ask for.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace {

struct Language {
  const char* name;
  const char* relativePath;
};

constexpr Language kLanguages[] = {
    {"en", "resources/res.xml"},
    {"zh_TW", "resources/zh_TW/res.xml"},
};

using SectionTexts = std::map<std::string, std::string>;
using ResTexts = std::map<std::string, SectionTexts>;

struct ResFile {
  QByteArray bytes;
  std::string parseError;           // empty when the file parsed
  std::vector<std::string> faults;  // layout faults that would break or confuse the lookup
  ResTexts texts;
};

// The test environment names the folders; the build's own folders serve when it does not.
std::string FolderFromEnvironment(const char* variable, const char* buildFolder) {
  const char* folder = std::getenv(variable);
  return (folder != nullptr && *folder != '\0') ? folder : buildFolder;
}

std::string SourcePath(const char* relativePath) {
  return FolderFromEnvironment("CLIPFERRY_SOURCE_DIR", CLIPFERRY_BUILD_SOURCE_DIR) + "/" +
         relativePath;
}

const char* NodeKind(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_comment:
      return "comment";
    case pugi::node_pi:
    case pugi::node_declaration:
      return "processing instruction";
    case pugi::node_pcdata:
    case pugi::node_cdata:
      return "text";
    default:
      return "node";
  }
}

ResFile LoadResFile(const std::string& path) {
  ResFile file;
  QFile input(QString::fromStdString(path));
  if (!input.open(QIODevice::ReadOnly)) {
    file.parseError = "cannot open " + path;
    return file;
  }
  file.bytes = input.readAll();

  // Comments and processing instructions are kept so that a stray one inside the tree is seen;
  // white space between elements is dropped, as the lookup's parser drops it.
  pugi::xml_document doc;
  const auto result = doc.load_buffer(
      file.bytes.constData(), static_cast<size_t>(file.bytes.size()),
      pugi::parse_default | pugi::parse_comments | pugi::parse_pi, pugi::encoding_utf8);
  if (!result) {
    file.parseError =
        std::string(result.description()) + " at byte " + std::to_string(result.offset);
    return file;
  }

  const pugi::xml_node root = doc.document_element();
  for (pugi::xml_node section : root.children()) {
    if (section.type() != pugi::node_element) {
      file.faults.push_back(std::string(NodeKind(section)) + " below the root");
      continue;
    }
    const std::string sectionName = section.attribute("name").value();
    if (sectionName.empty()) {
      file.faults.push_back("section <" + std::string(section.name()) + "> without a name");
      continue;
    }
    if (file.texts.count(sectionName) != 0) {
      file.faults.push_back("section " + sectionName + " appears twice");
    }
    SectionTexts& texts = file.texts[sectionName];
    for (pugi::xml_node entry : section.children()) {
      const std::string where = sectionName + "/" + entry.attribute("name").value();
      if (entry.type() != pugi::node_element) {
        file.faults.push_back(std::string(NodeKind(entry)) + " in section " + sectionName);
        continue;
      }
      const std::string key = entry.attribute("name").value();
      if (key.empty()) {
        file.faults.push_back("entry without a name in section " + sectionName);
        continue;
      }
      // The entry's text is read as one piece; anything nested would be lost or cut it short.
      int pieces = 0;
      for (pugi::xml_node part : entry.children()) {
        ++pieces;
        if (part.type() != pugi::node_pcdata && part.type() != pugi::node_cdata) {
          file.faults.push_back(where + " holds a " + NodeKind(part) + " inside its text");
        }
      }
      if (pieces > 1) {
        file.faults.push_back(where + " is split into several pieces");
      }
      if (!texts.emplace(key, entry.text().get()).second) {
        file.faults.push_back(where + " appears twice; only the first would ever be read");
      }
    }
  }
  if (file.texts.empty()) {
    file.faults.push_back("no sections");
  }
  return file;
}

class ResFilesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const Language& language : kLanguages) {
      files_[language.name] = LoadResFile(SourcePath(language.relativePath));
    }
  }
  static const ResFile& File(const char* language) { return files_.at(language); }

 private:
  static inline std::map<std::string, ResFile> files_;
};

TEST_F(ResFilesTest, BothFilesAreUtf8AndHoldOnlyElementsBelowRootAndSections) {
  for (const Language& language : kLanguages) {
    SCOPED_TRACE(language.relativePath);
    const ResFile& file = File(language.name);
    ASSERT_EQ(file.parseError, "");
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(file.bytes);
    EXPECT_FALSE(decoder.hasError()) << "not valid UTF-8";
    EXPECT_FALSE(decoded.isEmpty());
    EXPECT_TRUE(file.bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    for (const std::string& fault : file.faults) {
      ADD_FAILURE() << fault;
    }
  }
}

TEST_F(ResFilesTest, BothLanguagesHaveTheSameSectionsAndKeys) {
  const ResTexts& english = File("en").texts;
  const ResTexts& chinese = File("zh_TW").texts;
  const auto reportMissing = [](const ResTexts& from, const ResTexts& in, const char* inName) {
    for (const auto& [section, texts] : from) {
      const auto found = in.find(section);
      if (found == in.end()) {
        ADD_FAILURE() << "section " << section << " missing in " << inName;
        continue;
      }
      for (const auto& entry : texts) {
        if (found->second.count(entry.first) == 0) {
          ADD_FAILURE() << section << "/" << entry.first << " missing in " << inName;
        }
      }
    }
  };
  reportMissing(english, chinese, "zh_TW");
  reportMissing(chinese, english, "en");
}

// Every key the windows and the engine look up. A key missing here shows an empty caption (captions
// have no fall-back) or an empty message box (these messages have no built-in text).
TEST_F(ResFilesTest, EveryKeyTheProgramLooksUpIsPresentAndFilled) {
  // Keys per section, separated by blanks.
  const std::map<std::string, std::string> required = {
      {"frmUpload",
       "frmUpload frmVersion frameQueue cmdAdd cmdAddKqp cmdEdit cmdRemove cmdClearAll "
       "cmdStartUpload cmdStopUpload cmdExit chkRemQueue chkHighSpeed lStatus lConvertInfo "
       "lInjection frameTutor lServer lTestLen gridClassify gridFileName gridTitle "
       "gridAuthor gridUrl gridFolder gridState gridError gridCvtBeginTime gridCvtEndTime "
       "gridUploadBeginTime gridUploadEndTime gridPath gridRecDate lInfoCancel lInfoFail "
       "mavoError mavoNoResponse msgBelowDualCore msgClearAll_1 msgClearAll_2 "
       "msgCmdWhenTransfering msgComplete msgConnect msgEditMultiRows msgError "
       "msgFileNotExist msgFrameCompress msgOverwrite msgPack msgPackCancel msgPackError "
       "msgRemoveTransferingFile msgStopBeforeExit msgUpdate msgUpload msgUploadCancel "
       "msgVideoCompress msg_checkFolder msg_folder msg_folder2 msg_folder3 msg_0 msg_666 "
       "msg_1001 msg_1002 msg_1003 msg_1004 msg_1005 msgRemoveSelected msgDropRefused lLanguage "
       "langAuto langEnglish langChinese msgLanguageNextStart cmdAbout ttlAbout msgAbout "
       "stateWaiting stateTransfering "
       "stateEditing stateFinished stateFailed stateCanceled"},
      {"frmAdd",
       "frmAdd frmEdit dlgTitle frameFile lVideo cmdBrowse lSrcSize frameServer lServerIP "
       "lAccount lPassword cmdLogIn cmdRefresh lRefresh lOldSysHelp lFolder lAdWarning "
       "frameInfo lTitle lAuthor frameVidSetting lCvtType optLocalCvt optServerCvt "
       "optNoCvtForMp4 lNoCvtHelp lMaxVidSize optSrcRes optFullHiRes optHiRes optStdRes "
       "lDestination lDstSize lBps lFileSize lCustomBps cmdOK cmdCancel lTestLen ttl_Help "
       "ttl_Warning msgParseXmlErr msgUnsupportedXmlVer msg_analyzingFolder "
       "msg_buildingFolder msg_durErr msg_exceed2GB msg_ExitOnGetFolder msg_ExitOnGetVidInfo "
       "msg_hasBeenAdded msg_multiStream msg_nearly2GB msg_noCustomBps msg_noCvtForMp4 "
       "msg_noMediaKq msg_noSuchFile msg_oldSysTip msg_oldSysWarning msg_openFileError "
       "msg_refreshFirst msg_refreshFrom msg_rm_and_rmvb msg_unknownFormat msg_VIDEO_TS_VOB "
       "txtPixels txtAbout optHiResNeeds optStdResNeeds"},
      {"frmAddBatch",
       "frmAddBatch frameServer lServerIP lAccount lPassword cmdLogIn cmdRefresh lRefresh "
       "lFolder lAdWarning frameFile lLocation cmdBrowse cmdStopSearch lHelp frameVidSetting "
       "lMaxVidSize optHiRes optStdRes cmdOK cmdCancel ttl_Help msgParseXmlErr "
       "msgUnsupportedXmlVer msg_ExitOnGetFolder msg_ExitOnGetVidInfo msg_refreshFirst "
       "msg_refreshFrom msg_searchSopWarning dlgSelectFolder msgSelectItems txtSelectPath"},
      {"frmCustomBps", "frmCustomBps frameNote lNote cmdSet cmdOK cmdCancel default exceedLimit"},
      {"uploadResume", "msgContinue msgStartOver msgWaitServer"},
      {"frmConfirm", "frmConfirm lTitle lSubTitle cmdYes cmdNo cmdAllYes cmdAllNo lTestLen"},
      {"frmDownloader", "frmDownloader lNewVersion lStatus lLog lFile lProgress cmdUpdate cmdQuit"},
      {"frmCommon",
       "btnOK btnExit btnCancel msgKqpError msgUnsupportKqpVer msgVerifyWholeKq "
       "msgVerifyKqErr"},
  };
  for (const Language& language : kLanguages) {
    const ResTexts& texts = File(language.name).texts;
    for (const auto& [section, keyList] : required) {
      const auto found = texts.find(section);
      if (found == texts.end()) {
        ADD_FAILURE() << language.name << ": section " << section << " missing";
        continue;
      }
      std::istringstream keys(keyList);
      for (std::string key; keys >> key;) {
        const auto entry = found->second.find(key);
        if (entry == found->second.end()) {
          ADD_FAILURE() << language.name << ": " << section << "/" << key << " missing";
        } else if (entry->second.find_first_not_of(' ') == std::string::npos) {
          ADD_FAILURE() << language.name << ": " << section << "/" << key << " is empty";
        }
      }
    }
  }
}

TEST_F(ResFilesTest, OnlyLabelsFilledAtRunTimeAreLeftEmpty) {
  const std::set<std::pair<std::string, std::string>> emptyOnPurpose = {
      {"frmAdd", "lFolderPath"}, {"frmAddBatch", "lFolderPath"}, {"frmConfirm", "lFile"}};
  for (const Language& language : kLanguages) {
    for (const auto& [section, texts] : File(language.name).texts) {
      for (const auto& [key, text] : texts) {
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        EXPECT_EQ(blank, emptyOnPurpose.count({section, key}) == 1)
            << language.name << ": " << section << "/" << key << " = \"" << text << "\"";
      }
    }
  }
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

bool HasChineseCharacters(const std::string& utf8) {
  for (const char32_t c : QString::fromStdString(utf8).toUcs4()) {
    if ((c >= 0x3000 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF)) {
      return true;
    }
  }
  return false;
}

// The callers put a value where "%s" stands and break lines at "\n"; a translation that drops or
// adds one shows a raw "%s" or loses the value.
TEST_F(ResFilesTest, TranslationsKeepPlaceholdersAndLineBreaks) {
  const ResTexts& chinese = File("zh_TW").texts;
  for (const auto& [section, texts] : File("en").texts) {
    for (const auto& [key, english] : texts) {
      const auto sectionFound = chinese.find(section);
      if (sectionFound == chinese.end() || sectionFound->second.count(key) == 0) {
        continue;  // reported by the key comparison
      }
      const std::string& translated = sectionFound->second.at(key);
      SCOPED_TRACE(section + "/" + key);
      for (const char* marker : {"%s", "\\n"}) {
        EXPECT_EQ(CountOf(english, marker), CountOf(translated, marker)) << marker;
      }
    }
  }
}

TEST_F(ResFilesTest, EnglishIsEnglishAndChineseIsTranslated) {
  const std::set<std::string> sameInBoth = {"frmUpload/frmUpload", "frmUpload/frmVersion",
                                            "frmAdd/lFolderPath", "frmAddBatch/lFolderPath",
                                            "frmConfirm/lFile"};
  const ResTexts& chinese = File("zh_TW").texts;
  for (const auto& [section, texts] : File("en").texts) {
    for (const auto& [key, english] : texts) {
      const std::string where = section + "/" + key;
      EXPECT_FALSE(HasChineseCharacters(english)) << where << " = " << english;
      const auto sectionFound = chinese.find(section);
      if (sectionFound != chinese.end() && sectionFound->second.count(key) != 0 &&
          sameInBoth.count(where) == 0) {
        EXPECT_NE(english, sectionFound->second.at(key)) << where << " is not translated";
      }
    }
  }
}

TEST_F(ResFilesTest, VersionTextFollowsTheBuild) {
  for (const Language& language : kLanguages) {
    const ResTexts& texts = File(language.name).texts;
    const auto section = texts.find("frmUpload");
    ASSERT_NE(section, texts.end()) << language.name;
    const auto version = section->second.find("frmVersion");
    ASSERT_NE(version, section->second.end()) << language.name;
    EXPECT_EQ(version->second, CLIPFERRY_VERSION) << language.name;
  }
}

TEST_F(ResFilesTest, ProgramFolderShipsOneOfTheLanguagesUnchanged) {
  const std::string programDir =
      FolderFromEnvironment("CLIPFERRY_PROGRAM_DIR", CLIPFERRY_BUILD_PROGRAM_DIR);
  QFile shipped(QString::fromStdString(programDir + "/res.xml"));
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << shipped.fileName().toStdString();
  const QByteArray bytes = shipped.readAll();
  EXPECT_TRUE(bytes == File("en").bytes || bytes == File("zh_TW").bytes);
}

}  // namespace
