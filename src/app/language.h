// The user-interface language: numbered texts from resources/lang/res_CODE.xml.
//
//   <resources lang="fr"><text id="1">disque(s)</text>...</resources>
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <initializer_list>
#include <string>

#include "platform/result.h"

namespace tamber::app {

// Numbers of the texts the program uses.
enum TextId : int {
  kTextDiscsWord = 1,           // after the disc count of a category
  kTextConfirmDeleteCategory = 2,  // %s: the category's name
  kTextConfirmDeleteItem = 3,      // %s: the disc's or folder's label
  kTextCancelled = 4,
  kTextLibraryCreated = 5,         // %s: path
  kTextCategories = 10,
  kTextDiscs = 11,
  kTextFolders = 12,
  kTextAudioTracks = 13,
  kTextTotalPrice = 14,
  kTextCreated = 15,
  kTextComment = 16,
  kTextLibrary = 17,
  kTextCategory = 18,
  kTextNoDefaultLibrary = 19,
  kTextKindBase = 100,             // 100 + ItemKind: the media type's name
  kTextScanDone = 559,             // %s item name, %s elapsed time, %s kTextLibraryUpdated
  kTextScanFailed = 560,           // %s path
  kTextScanCaption = 562,
  kTextLibraryUpdated = 563,
  kTextUnlimitedDepth = 564,
  kTextScanSummary = 565,          // %s file count, %s folder count, %s byte count, %s depth
  kTextListingParts = 566,         // %s: how many
  kTextLibraryReadOnly = 567,
  kTextUnreadableFolder = 568,     // %s: the folder
  kTextNoSuchEntry = 569,
  kTextReadOnly = 570,
  kTextProgressCounts = 571,       // %s files, %s folders (the report's item counts)
  kTextYesNo = 572,
  kTextNameEmpty = 573,
  kTextNameHoldsSlash = 574,
  kTextLibraryItself = 575,
  kTextNoSuchStep = 576,           // %s path, %s step
  kTextIsCategory = 577,           // %s path
  kTextNoSuchFileIn = 578,         // %s file, %s item
  kTextIsFolder = 579,             // %s file
  kTextNoThumbnail = 630,          // %s file
  kTextNoArchiveListing = 581,     // %s file
  kTextPriceNotNumber = 582,       // %s value
  kTextCategoryNameNeeded = 583,
  kTextAmbiguousStep = 584,        // %s path, %s step, %s count
  kTextArchiveListingDamaged = 585,
  kTextNotAnItem = 586,            // %s path
  kTextExistsAlready = 587,        // %s file
  kTextTreeOfItem = 588,           // %s path
  kTextNotACategory = 589,         // %s path
  kTextNotAField = 590,            // %s assignment
  kTextAudioOnly = 591,            // %s field
  kTextNotAPicture = 592,          // %s file
  kTextNotAnInteger = 593,         // %s text
  kTextPictureName = 594,          // %s file
  kTextPictureNotConverted = 595,  // %s file
  kTextCannotWriteOutput = 596,    // %s cause
  kTextThumbnailNotMade = 597,     // %s file
  kTextCannotBeRead = 598,         // %s file
  kTextNoSuchLibrary = 599,        // %s file
  kTextLibraryInUse = 600,         // %s file
  kTextNotALibrary = 601,          // %s file, %s what is wrong
  kTextExportedLibrary = 640,      // %s category, %s file, %s counted items
  kTextImportedLibrary = 641,      // %s file, %s counted new categories, %s counted items, %s relabelled
  kTextSameLibrary = 642,
  kTextExportedXml = 643,          // %s file, %s item count, %s cover count
  kTextExportedCsv = 644,          // %s file, %s row count
  kTextDiscAway = 645,             // %s label, %s where it is kept
  kTextOtherDisc = 646,            // %s label in the drive, %s label, %s where it is kept
  kTextFolderAway = 647,           // %s path
  kTextReadAnew = 648,             // %s files read, %s files taken over
  kTextDryRun = 649,               // counted files, folders, bytes, pictures, audio, documents, archives
  kTextLibraryIsOpen = 650,
  kTextLibraryWrittenSince = 651,  // %s file, %s program, %s time
  kTextLibraryWritten = 652,       // %s file, %s program
  kTextAnotherProgram = 653,
  kTextCategoryNameTaken = 654,  // %s name
  kTextTracksSummary = 655,      // %s track count, %s playing time
  kTextPartialBytes = 656,       // an archive listing stopped short: why
  kTextPartialTime = 657,
  kTextPartialEntries = 658,
  kTextPartialDamaged = 659,
  kTextWriterProcess = 660,      // %s program, %s process number
  kTextPropertyBase = 706,       // 706 on: a file's recorded properties by name (propertyLabel)
  kTextDocumentFamily = 765,     // 765 + the recorded document family: HTML, PDF, office, program
  kTextErrorWord = 769,          // "error" in "tamber: error: ..."
  kTextWarningWord = 770,        // "warning" in "tamber: warning: ..."
  kTextNotATerminal = 771,       // the answer to a question asked with nobody to answer
  kTextResourcesMissing = 772,   // %s folder, %s the missing resource documents
  // Counted nouns: the singular text, the plural one right after it.
  kTextFileCount = 773,
  kTextFolderCount = 775,
  kTextByteCount = 777,
  kTextItemCount = 779,          // discs and folders
  kTextCoverCount = 781,
  kTextRowCount = 783,
  kTextTrackCount = 785,
  kTextNumber = 787,
  kTextWhichEntry = 788,         // %s the number of entries
  kTextMatchBeyond = 789,        // %s the number asked for, %s the entries given
  kTextNotRecognised = 790,
  kTextNoteWord = 791,           // "note" in "tamber: note: ..."
  kTextItemBesideCategory = 792, // %s path, %s item number, %s category number
  kTextUnknownCommand = 793,     // %s the command
  kTextDidYouMean = 794,         // "; did you mean ...", %s the nearest name
  kTextUnknownOption = 795,      // %s the option
  kTextUnexpectedArgument = 796, // %s the argument
  kTextCommandNeeded = 797,
  kTextHelpForCommands = 798,
  kTextHelpForOptions = 799,     // %s "tamber COMMAND"
  kTextHelpForSubcommands = 1078, // %s "tamber COMMAND"
  kTextNoSuchLibraryFile = 1079,   // %s path
  kTextSettingsNotChanged = 1080,  // %s settings file
  kTextSettingDoesNotFit = 1081,   // %s setting, %s value, %s why
  kTextNoSuchSetting = 1082,       // %s setting
  kTextConfigKeysHint = 1083,
  kTextNoAudioToLookUp = 1084,     // %s device
  kTextNotADiscId = 1085,          // %s the text given
  kTextImportedBefore = 1086,      // %s the error, %s item count
  kTextFindNeedsText = 1087,
  kTextKindsChoice = 1088,         // %s the kinds given
  kTextDateForm = 1089,
  kTextNotSearched = 1090,         // %s why
  kTextScopeNowhere = 1091,        // %s the scope
  kTextRtfNeedsOutput = 1092,
  kTextChooseWithMatch = 1093,
  kTextAddFolderNeedsDir = 1094,
  kTextUpdateKeepsItemCategory = 1095,
  kTextFullGoesWithUpdate = 1096,
  kTextExcludeNeedsFilter = 1097,
  kTextUpdateKeepsDiscCategory = 1098,
  kTextDiscCategoryNeeded = 1099,
  kTextDiscNotMounted = 1100,      // %s device, %s device
  kTextRuleOnAudioCd = 1101,
  kTextTrackFields = 1102,         // %s the field given
  kTextExportCannotCreate = 1103,  // the engine's fixed messages, %s the file
  kTextExportCannotSave = 1104,
  kTextImportMissing = 1105,
  kTextImportCorrupt = 1106,
  kTextCurrentCannotSave = 1107,
  kTextStatistics = 1108,
  kTextNoDrive = 1109,
  kTextChangedWhileRead = 1110,
  kTextContentHash = 1111,       // a file's recorded content hash, and why it has none
  kTextHashProblem = 1112,
  // A video's container, video codec, frame rate, audio tracks, subtitles, date.
  kTextVideoPropertyBase = 1178,
  kTextRecordHashes = 1113,
  kTextRecordHashesTip = 1114,
  kTextDupesGroup = 1115,        // %s copies, %s each, %s wasted
  kTextDupesGroups = 1116,       // counted: 1116 one group, 1117 several
  kTextDupesWasted = 1118,
  kTextDupesByNameSize = 1119,
  kTextDupesUnhashed = 1120,
  kTextDupesNone = 1121,
  kTextFindDuplicates = 1122,    // the Tools menu's item
  // verify and diff: the kinds of difference, then what is said around them.
  kTextDiffMissing = 1123,
  kTextDiffNew = 1124,
  kTextDiffChanged = 1125,
  kTextDiffDamaged = 1126,
  kTextDiffMoved = 1127,
  kTextDiffUnreadable = 1128,
  kTextDiffRemoved = 1129,
  kTextDiffAdded = 1130,
  kTextDiffAlike = 1131,         // %s counted files alike, %s of them by content
  kTextDiffNoHashes = 1132,
  kTextDiffOtherContent = 1133,
  kTextVerifyAudioDisc = 1134,
  kTextVerifyNoFolder = 1135,    // %s path
  kTextDiffNotASide = 1136,      // %s argument
  kTextVerifyRecorded = 1137,    // %s item
  kTextDiffSummary = 1138,       // %s counts
  kTextLastVerified = 1139,
  // The volume an item was read from, in the order of volumeFields().
  kTextVolumeFieldLabel = 1140,
  kTextWhichNone = 1148,         // %s path
  kTextVerifyAction = 1149,      // the context menu's items
  kTextCompareAction = 1150,
  kTextSaveCsv = 1151,
  kTextVerifyTitle = 1152,       // %s item
  kTextCompareTitle = 1153,      // %s item, %s folder
  kTextDifferenceColumn = 1154,
  kTextPathColumn = 1155,
  kTextDetailsColumn = 1156,
  // The command line's own messages on what was typed: %s the option
  // (or argument) and what it was given.
  kTextOptionRequired = 1157,    // %s option
  kTextOptionNeedsValue = 1158,  // %s option
  kTextOptionBadValue = 1159,    // %s option, %s value
  kTextOptionOutOfRange = 1160,  // %s option, %s value, %s lowest, %s highest
  kTextOptionNotPositive = 1161, // %s option, %s value
  kTextOptionNotOneOf = 1162,    // %s option, %s value, %s the choices
  kTextOptionTakesNoValue = 1163, // %s option
  kTextOptionExcludes = 1164,    // %s option, %s the other
  kTextOptionRequires = 1165,    // %s option, %s the other
  kTextOptionValueCount = 1166,  // %s option
  kTextNoLibrariesFound = 1167,  // %s the folders looked in
  kTextSettingDefault = 1168,    // %s kind of value, %s its default
  kTextIndexNotUsed = 1169,      // %s library or item, %s why
  kTextIndexSummary = 1170,      // %s items indexed, %s items, %s bytes, %s texts, %s bytes each, %s listing bytes
  kTextIndexCurrent = 1171,
  kTextIndexStale = 1172,
  kTextIndexRebuilt = 1173,
  kTextIndexDropped = 1174,
  kTextUpdateNotPresent = 1190,  // %s item, %s its folder
  kTextUpdateWould = 1191,       // %s item, %s its folder
  kTextUpdateSummary = 1192,     // %s updated, %s not present, %s failed
  kTextUpdateNeedsItems = 1193,
  kTextUpdateNotADisc = 1194,    // %s the item as typed
  kTextUpdateEmptied = 1195,     // %s item, %s its folder
  kTextUpdateWouldSummary = 1196, // %s to update, %s not present
  kTextExportedHtml = 1197,      // %s index.html, %s items, %s files and folders
  // The words of an exported web site.
  kTextSiteSearch = 1198,
  kTextSiteLoading = 1199,
  kTextSiteHits = 1200,          // %s count, %s milliseconds
  kTextSiteFirstShown = 1201,    // %s count shown
  kTextSiteFiles = 1202,         // %s count
  kTextSiteCannotRead = 1203,    // %s file
  kTextPublished = 1213,         // %s name, items sent, files, unchanged, removed, seconds
  kTextUpdateFromOneItem = 1214,
  kTextWatchingUdisks = 1215,
  kTextWatchingMountTable = 1216,
  kTextWatchCannot = 1217,
  kTextWatchUpdating = 1218,     // %s label, mount point, item, library
  kTextWatchWouldUpdate = 1219,  // %s label, mount point, item, library
  kTextWatchDisc = 1220,         // %s label, mount point, item, library
  kTextWatchAskSummary = 1221,
  kTextWatchAskBody = 1222,      // %s label, mount point, library
  kTextWatchAddAction = 1223,
  kTextWatchAsked = 1224,        // %s label, mount point
  kTextWatchNoDesktop = 1225,    // %s label, mount point
  kTextWatchAdding = 1226,       // %s label, mount point, library
  kTextWatchJobFailed = 1227,    // %s what, exit status or error
  kTextWatchCategory = 1230,     // the category new volumes go to
  // What `media` and `disc` say besides the properties' names.
  kTextFromHeaderOnly = 1231,
  kTextWithTransparency = 1232,
  kTextFileSize = 1233,
  kTextFramesPerSecond = 1234,   // %s the rate
  kTextArchive = 1235,
  kTextTitleCount = 1236,        // counted: 1236 one title, 1237 several
  kTextChapterCount = 1238,      // counted
  kTextAngleCount = 1240,        // counted
  kTextAudioTrackKind = 1242,    // a disc track's kind: 1242 audio, 1243 data
  kTextLeadOut = 1244,
  kTextCddbDiscId = 1245,
  kTextOffsets = 1246,
  kTextMusicBrainzDiscId = 1247,
  kTextMegabytes = 1248,         // %s a size in MB
  kTextReportProgress = 1249,    // %s files read so far
  kTextCollationMissing = 1250,  // %s why
  // Counted nouns of a dry run's summary, singular then plural as above.
  kTextPictureCount = 1251,
  kTextAudioFileCount = 1253,
  kTextDocumentCount = 1255,
  kTextArchiveCount = 1257,      // archives and programs
  kTextFilesAlikeCount = 1259,   // "1 file alike", "2 files alike"
  kTextWhichNoFolder = 1261,     // %s path
  kTextNewCategoryCount = 1262,  // "1 new category", "2 new categories"
  kTextWritten = 922,            // %s the file
  // Texts the desktop program shows that the command line says too.
  kTextName = 819,
  kTextThumbnailsBox = 880,      // the add-folder dialog's four boxes
  kTextTagsBox = 881,
  kTextDocumentsBox = 882,
  kTextArchivesBox = 883,
  kTextScannedFor = 1003,
  kTextNamesOnly = 1004,
  kTextFieldLabel = 1005,        // the item fields' names, in itemFields() order
  kTextNoReadableDisc = 555,
  kTextCategoryRefused = 557,
  kTextCddbFailed = 580,
  kTextHitsFor = 705,              // the count line of a search: " %d %s %s"
  kTextTrack = 804,                // the word for a track: "%s %d" names one
};

class LanguageResources {
 public:
  // Takes res_CODE.xml from `dir`; its texts are read when the first one is
  // asked for (many commands say nothing), from any thread.
  Status load(const std::filesystem::path& dir, const std::string& code);
  const std::string& code() const { return code_; }
  // The text, or "#N" when the resource file lacks it.
  std::string text(int id) const;

 private:
  struct Texts {
    std::filesystem::path dir;
    std::once_flag read;
    std::map<int, std::string> byId;
  };
  std::string code_;
  std::shared_ptr<Texts> texts_;
};

// The folder of the language files: "resources/lang" beside the executable
// (build tree), then ../share/tamber/lang (installed), then the source tree.
std::filesystem::path resourceDirectory();

// "App-Preference"/"lang" when set, else the first two letters of
// LC_ALL/LC_MESSAGES/LANG (C and POSIX mean "en"); "en" when no resource file
// exists for the code.
std::string chooseLanguage(const std::string& configured, const std::filesystem::path& dir);

// A language text with each "%s" filled in turn (a value holding "%s"
// stays as it is).
std::string fillIn(std::string text, std::initializer_list<std::string> values);

// A message of the engine whose English wording is fixed (an export's or
// import's failure, the statistics step, no drive) in the language of
// `texts`, with the file it names and anything said after it kept; any
// other message as it is.
std::string spokenText(const LanguageResources& texts, const std::string& message);

}  // namespace tamber::app
