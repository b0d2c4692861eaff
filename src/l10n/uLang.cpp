// The user-interface texts, the starting language and the slide-caption table.  Everything here
// is portable; reading the Windows display language and the embedded resource lives in
// uLangWin.cpp.
#include "l10n/uLang.h"

#include <set>

#include <nlohmann/json.hpp>

#include "app/uLogger.h"

namespace qv {

// Texts exactly as translated: ASCII "..." and "'", a space before ":" and "?" in French,
// full-width punctuation in Chinese and Japanese.
const std::array<TUIStrings, kLanguageCount> UIStringsTable = {
    // 0: English
    TUIStrings{
        .LangName = "English",
        .InnoId = "english",
        .ReadAgreed = "I've read and agreed",
        .Privacy = "Privacy Policy",
        .AndWord = "and",
        .License = "User License Agreement",
        .InstallSetting = "Install Setting",
        .SelectLanguage = "Select Language:",
        .InstallPath = "Installation Path:",
        .Browse = "Browse",
        .BtnInstall = "Install",
        .BtnRetry = "Retry",
        .BtnStartNow = "Start Now",
        .BtnHide = "Hide",
        .InstallingWait = "Installing, please wait...",
        .Cancelling = "Cancelling...",
        .InstallInProgress = "Please wait, installation is in progress...",
        .ChooseLocation = "Please choose an install location.",
        .DownloadFailed = "Download failed.",
        .DownloadFailedMsg = "The download failed:",
        .OfflineLink = "Download the offline installer",
        .InstallFailed = "Installation failed.",
        .ElevationCancelled = "Installation was cancelled at the elevation prompt.",
        .CouldNotStart = "Could not start the installer: ",
        .InstallerError = "The installer reported an error (exit code %d).",
        .ExitConfirm = "Are you sure you want to exit %s Setup?",
        .SelectFolder = "Select install location",
    },
    // 1: German
    TUIStrings{
        .LangName = "Deutsch",
        .InnoId = "german",
        .ReadAgreed = "Ich habe gelesen und akzeptiere",
        .Privacy = "Datenschutzrichtlinie",
        .AndWord = "und",
        .License = "Endbenutzer-Lizenzvertrag",
        .InstallSetting = "Einstellungen",
        .SelectLanguage = "Sprache auswählen:",
        .InstallPath = "Installationspfad:",
        .Browse = "Durchsuchen",
        .BtnInstall = "Installieren",
        .BtnRetry = "Erneut versuchen",
        .BtnStartNow = "Jetzt starten",
        .BtnHide = "Ausblenden",
        .InstallingWait = "Installation läuft, bitte warten...",
        .Cancelling = "Wird abgebrochen...",
        .InstallInProgress = "Bitte warten, die Installation läuft...",
        .ChooseLocation = "Bitte wählen Sie einen Installationsordner.",
        .DownloadFailed = "Download fehlgeschlagen.",
        .DownloadFailedMsg = "Der Download ist fehlgeschlagen:",
        .OfflineLink = "Offline-Installationsprogramm herunterladen",
        .InstallFailed = "Installation fehlgeschlagen.",
        .ElevationCancelled = "Die Installation wurde an der Berechtigungsabfrage abgebrochen.",
        .CouldNotStart = "Das Installationsprogramm konnte nicht gestartet werden: ",
        .InstallerError = "Das Installationsprogramm hat einen Fehler gemeldet (Exit-Code %d).",
        .ExitConfirm = "Möchten Sie das %s-Setup wirklich beenden?",
        .SelectFolder = "Installationsordner auswählen",
    },
    // 2: French
    TUIStrings{
        .LangName = "Français",
        .InnoId = "french",
        .ReadAgreed = "J'ai lu et j'accepte",
        .Privacy = "Politique de confidentialité",
        .AndWord = "et",
        .License = "Contrat de licence utilisateur",
        .InstallSetting = "Paramètres",
        .SelectLanguage = "Choisir la langue :",
        .InstallPath = "Chemin d'installation :",
        .Browse = "Parcourir",
        .BtnInstall = "Installer",
        .BtnRetry = "Réessayer",
        .BtnStartNow = "Démarrer",
        .BtnHide = "Masquer",
        .InstallingWait = "Installation en cours, veuillez patienter...",
        .Cancelling = "Annulation...",
        .InstallInProgress = "Veuillez patienter, l'installation est en cours...",
        .ChooseLocation = "Veuillez choisir un dossier d'installation.",
        .DownloadFailed = "Échec du téléchargement.",
        .DownloadFailedMsg = "Le téléchargement a échoué :",
        .OfflineLink = "Télécharger l'installateur hors ligne",
        .InstallFailed = "Échec de l'installation.",
        .ElevationCancelled = "L'installation a été annulée à l'invite d'élévation.",
        .CouldNotStart = "Impossible de démarrer l'installateur : ",
        .InstallerError = "L'installateur a signalé une erreur (code %d).",
        .ExitConfirm = "Voulez-vous vraiment quitter l'installation de %s ?",
        .SelectFolder = "Choisir le dossier d'installation",
    },
    // 3: Spanish
    TUIStrings{
        .LangName = "Español",
        .InnoId = "spanish",
        .ReadAgreed = "He leído y acepto",
        .Privacy = "Política de privacidad",
        .AndWord = "y",
        .License = "Contrato de licencia de usuario",
        .InstallSetting = "Configuración",
        .SelectLanguage = "Seleccionar idioma:",
        .InstallPath = "Ruta de instalación:",
        .Browse = "Examinar",
        .BtnInstall = "Instalar",
        .BtnRetry = "Reintentar",
        .BtnStartNow = "Empezar ahora",
        .BtnHide = "Ocultar",
        .InstallingWait = "Instalando, espere por favor...",
        .Cancelling = "Cancelando...",
        .InstallInProgress = "Espere, la instalación está en curso...",
        .ChooseLocation = "Elija una carpeta de instalación.",
        .DownloadFailed = "Error de descarga.",
        .DownloadFailedMsg = "La descarga ha fallado:",
        .OfflineLink = "Descargar el instalador sin conexión",
        .InstallFailed = "Error de instalación.",
        .ElevationCancelled = "La instalación se canceló en el aviso de elevación.",
        .CouldNotStart = "No se pudo iniciar el instalador: ",
        .InstallerError = "El instalador informó un error (código %d).",
        .ExitConfirm = "¿Seguro que desea salir del instalador de %s?",
        .SelectFolder = "Seleccionar carpeta de instalación",
    },
    // 4: Portuguese
    TUIStrings{
        .LangName = "Português",
        .InnoId = "portuguese",
        .ReadAgreed = "Li e concordo com",
        .Privacy = "Política de Privacidade",
        .AndWord = "e",
        .License = "Contrato de Licença de Usuário",
        .InstallSetting = "Configurações",
        .SelectLanguage = "Selecionar idioma:",
        .InstallPath = "Caminho de instalação:",
        .Browse = "Procurar",
        .BtnInstall = "Instalar",
        .BtnRetry = "Tentar novamente",
        .BtnStartNow = "Começar agora",
        .BtnHide = "Ocultar",
        .InstallingWait = "Instalando, aguarde...",
        .Cancelling = "Cancelando...",
        .InstallInProgress = "Aguarde, a instalação está em andamento...",
        .ChooseLocation = "Escolha uma pasta de instalação.",
        .DownloadFailed = "Falha no download.",
        .DownloadFailedMsg = "O download falhou:",
        .OfflineLink = "Baixar o instalador offline",
        .InstallFailed = "Falha na instalação.",
        .ElevationCancelled = "A instalação foi cancelada no prompt de elevação.",
        .CouldNotStart = "Não foi possível iniciar o instalador: ",
        .InstallerError = "O instalador relatou um erro (código %d).",
        .ExitConfirm = "Tem certeza de que deseja sair da instalação do %s?",
        .SelectFolder = "Selecionar pasta de instalação",
    },
    // 5: Italian
    TUIStrings{
        .LangName = "Italiano",
        .InnoId = "italian",
        .ReadAgreed = "Ho letto e accetto",
        .Privacy = "Informativa sulla privacy",
        .AndWord = "e",
        .License = "Contratto di licenza utente",
        .InstallSetting = "Impostazioni",
        .SelectLanguage = "Seleziona lingua:",
        .InstallPath = "Percorso di installazione:",
        .Browse = "Sfoglia",
        .BtnInstall = "Installa",
        .BtnRetry = "Riprova",
        .BtnStartNow = "Inizia ora",
        .BtnHide = "Nascondi",
        .InstallingWait = "Installazione in corso, attendere...",
        .Cancelling = "Annullamento...",
        .InstallInProgress = "Attendere, installazione in corso...",
        .ChooseLocation = "Scegliere una cartella di installazione.",
        .DownloadFailed = "Download non riuscito.",
        .DownloadFailedMsg = "Il download non è riuscito:",
        .OfflineLink = "Scarica il programma di installazione offline",
        .InstallFailed = "Installazione non riuscita.",
        .ElevationCancelled = "L'installazione è stata annullata alla richiesta di elevazione.",
        .CouldNotStart = "Impossibile avviare il programma di installazione: ",
        .InstallerError = "Il programma di installazione ha segnalato un errore (codice %d).",
        .ExitConfirm = "Uscire dall'installazione di %s?",
        .SelectFolder = "Seleziona cartella di installazione",
    },
    // 6: Simplified Chinese
    TUIStrings{
        .LangName = "简体中文",
        .InnoId = "chinesesimplified",
        .ReadAgreed = "我已阅读并同意",
        .Privacy = "隐私政策",
        .AndWord = "和",
        .License = "用户许可协议",
        .InstallSetting = "安装设置",
        .SelectLanguage = "选择语言：",
        .InstallPath = "安装路径：",
        .Browse = "浏览",
        .BtnInstall = "安装",
        .BtnRetry = "重试",
        .BtnStartNow = "立即启动",
        .BtnHide = "隐藏",
        .InstallingWait = "正在安装，请稍候...",
        .Cancelling = "正在取消...",
        .InstallInProgress = "请稍候，安装正在进行中...",
        .ChooseLocation = "请选择安装位置。",
        .DownloadFailed = "下载失败。",
        .DownloadFailedMsg = "下载失败：",
        .OfflineLink = "下载离线安装包",
        .InstallFailed = "安装失败。",
        .ElevationCancelled = "安装在权限提示时被取消。",
        .CouldNotStart = "无法启动安装程序：",
        .InstallerError = "安装程序报告错误（退出代码 %d）。",
        .ExitConfirm = "确定要退出 %s 安装程序吗？",
        .SelectFolder = "选择安装位置",
    },
    // 7: Traditional Chinese
    TUIStrings{
        .LangName = "繁體中文",
        .InnoId = "chinesetraditional",
        .ReadAgreed = "我已閱讀並同意",
        .Privacy = "隱私政策",
        .AndWord = "和",
        .License = "使用者授權協議",
        .InstallSetting = "安裝設定",
        .SelectLanguage = "選擇語言：",
        .InstallPath = "安裝路徑：",
        .Browse = "瀏覽",
        .BtnInstall = "安裝",
        .BtnRetry = "重試",
        .BtnStartNow = "立即啟動",
        .BtnHide = "隱藏",
        .InstallingWait = "正在安裝，請稍候...",
        .Cancelling = "正在取消...",
        .InstallInProgress = "請稍候，安裝正在進行中...",
        .ChooseLocation = "請選擇安裝位置。",
        .DownloadFailed = "下載失敗。",
        .DownloadFailedMsg = "下載失敗：",
        .OfflineLink = "下載離線安裝程式",
        .InstallFailed = "安裝失敗。",
        .ElevationCancelled = "安裝在權限提示時被取消。",
        .CouldNotStart = "無法啟動安裝程式：",
        .InstallerError = "安裝程式回報錯誤（結束代碼 %d）。",
        .ExitConfirm = "確定要退出 %s 安裝程式嗎？",
        .SelectFolder = "選擇安裝位置",
    },
    // 8: Japanese
    TUIStrings{
        .LangName = "日本語",
        .InnoId = "japanese",
        .ReadAgreed = "以下を読み、同意します：",
        .Privacy = "プライバシーポリシー",
        .AndWord = "と",
        .License = "使用許諾契約",
        .InstallSetting = "インストール設定",
        .SelectLanguage = "言語を選択：",
        .InstallPath = "インストール先：",
        .Browse = "参照",
        .BtnInstall = "インストール",
        .BtnRetry = "再試行",
        .BtnStartNow = "今すぐ開始",
        .BtnHide = "隠す",
        .InstallingWait = "インストール中です。お待ちください...",
        .Cancelling = "キャンセルしています...",
        .InstallInProgress = "インストールが進行中です。お待ちください...",
        .ChooseLocation = "インストール先を選択してください。",
        .DownloadFailed = "ダウンロードに失敗しました。",
        .DownloadFailedMsg = "ダウンロードに失敗しました：",
        .OfflineLink = "オフラインインストーラーをダウンロード",
        .InstallFailed = "インストールに失敗しました。",
        .ElevationCancelled = "昇格プロンプトでインストールがキャンセルされました。",
        .CouldNotStart = "インストーラーを起動できませんでした：",
        .InstallerError = "インストーラーがエラーを報告しました（終了コード %d）。",
        .ExitConfirm = "%s のセットアップを終了しますか？",
        .SelectFolder = "インストール先の選択",
    },
};

const std::array<std::string_view, kLanguageCount> LanguageCodes = {
    "en", "de", "fr", "es", "pt", "it", "zh-Hans", "zh-Hant", "ja"};

int LanguageIndexForLangId(uint16_t langId) {
  const unsigned primary = langId & 0x3FFu;
  const unsigned sub = langId >> 10;
  switch (primary) {
    case 0x07: return 1;  // German
    case 0x0C: return 2;  // French
    case 0x0A: return 3;  // Spanish
    case 0x16: return 4;  // Portuguese
    case 0x10: return 5;  // Italian
    case 0x11: return 8;  // Japanese
    case 0x04:            // Chinese: PRC and Singapore simplified, every other region traditional
      return (sub == 0x02 || sub == 0x04) ? 6 : 7;
    default: return 0;
  }
}

// ---- Slide captions ---------------------------------------------------------------------

namespace {

using Json = nlohmann::json;

std::array<std::array<std::string, kSlideCount>, kLanguageCount>& Captions() {
  static std::array<std::array<std::string, kSlideCount>, kLanguageCount> table;
  return table;
}

// A failure while loading, with the kind and message that the log line names.
struct SlideLoadError {
  std::string kind;
  std::string message;
};

const Json* FindArray(const Json& doc, std::string_view key) {
  const auto it = doc.find(std::string(key));
  if (it == doc.end()) return nullptr;
  if (!it->is_array()) {
    throw SlideLoadError{"EInvalidCast", "value of \"" + std::string(key) + "\" is " +
                                             it->type_name() + ", not an array"};
  }
  return &*it;
}

}  // namespace

void LogSlideLoadFailure(std::string_view kind, std::string_view message) {
  LogFmt("L10N: failed to load slides: %s: %s", {kind, message});
}

void ClearSlideCaptions() {
  for (auto& lang : Captions())
    for (auto& caption : lang) caption.clear();
}

void LoadSlideCaptionsFromText(std::string_view text) {
  ClearSlideCaptions();
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());

  // The document is read with a parser callback so that, as in a plain list of pairs, the first
  // of two equal keys counts and every key of the top-level object is counted.
  int keyCount = 0;
  std::set<std::string> seen;
  const Json::parser_callback_t onEvent = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::key && depth == 1 && parsed.is_string()) {
      ++keyCount;
      return seen.insert(parsed.get<std::string>()).second;
    }
    return true;
  };
  Json doc;
  try {
    doc = Json::parse(text.begin(), text.end(), onEvent, /*allow_exceptions=*/false);
  } catch (...) {
    doc = Json(Json::value_t::discarded);
  }
  if (doc.is_discarded() || !doc.is_object()) {
    Log("L10N: SLIDES resource is not a JSON object, captions left empty");
    return;
  }

  try {
    const Json* fallback = FindArray(doc, LanguageCodes[0]);
    auto& table = Captions();
    for (int lang = 0; lang < kLanguageCount; ++lang) {
      const Json* list = FindArray(doc, LanguageCodes[lang]);
      if (!list) list = fallback;
      if (!list) continue;
      for (int slide = 0; slide < kSlideCount && slide < static_cast<int>(list->size()); ++slide) {
        const Json& item = (*list)[slide];
        // Only strings are captions; anything else leaves the title empty.
        if (item.is_string()) table[lang][slide] = item.get<std::string>();
      }
    }
  } catch (const SlideLoadError& e) {
    LogSlideLoadFailure(e.kind, e.message);
    return;
  } catch (const std::exception& e) {
    LogSlideLoadFailure("EJSONException", e.what());
    return;
  }
  LogFmt("L10N: slides loaded (%d languages in resource)", {keyCount});
}

std::string SlideCaption(int langIndex, int slideIndex) {
  if (langIndex < 0 || langIndex >= kLanguageCount || slideIndex < 0 || slideIndex >= kSlideCount)
    return {};
  return Captions()[langIndex][slideIndex];
}

}  // namespace qv
