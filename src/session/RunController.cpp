#include "session/RunController.h"

#include "net/FileTransfer.h"
#include "net/PageReader.h"
#include "run/Dialogs.h"
#include "run/RunState.h"
#include "run/RunView.h"
#include "scrape/CatalogCrawler.h"
#include "scrape/RetryingReader.h"
#include "scrape/RowPictures.h"
#include "scrape/ScrapeContext.h"
#include "session/ThrottleNotice.h"
#include "util/Clock.h"
#include "util/PathUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace zp {

RunController::RunController(RunState& state, RunView& view, Dialogs& dialogs, PageReader& pages,
    Downloader& downloader, const Clock& clock, RunSettings settings,
    CatalogWorkbookFile::Handover handover)
    : m_state(state)
    , m_view(view)
    , m_dialogs(dialogs)
    , m_pages(pages)
    , m_downloader(downloader)
    , m_clock(clock)
    , m_settings(std::move(settings))
    , m_workbookFile(m_settings.programFolder, std::move(handover))
{
}

void RunController::Command1_Click()
{
    if (m_state.IsRunning)
        askToStop();
    else
        performRun();
}

void RunController::askToStop()
{
    // "парсерсер" is the text the users know from the original program; kept on purpose.
    if (m_dialogs.show(MessageStyle::StopQuestion, u"Остановить парсерсер?"_s)
        == MessageAnswer::Yes)
        m_state.StopRequested.set();
}

void RunController::performRun()
{
    m_state.IsRunning = true;
    m_view.setButtonCaption(RunView::StopCaption);
    m_state.StartTime = m_clock.now();
    m_state.NewCount = 0;
    m_state.clearGaps();
    m_downloader.setBackgroundFailureHandler(
        [this](const QString& url, const QString& reason, bool mayPass) {
            m_state.countMissingPicture(mayPass);
            m_view.warnNotLoaded(url, reason);
        });
    m_pages.setThrottledHandler(
        [this, notice = ThrottleNotice()](const QString&, const ReplyVerdict& verdict) mutable {
            const QString line = notice.onThrottled(m_clock.now(), verdict.reason);
            if (!line.isEmpty())
                m_view.warn(line);
        });

    QString firstPageFailure;
    const std::optional<ListingLinks> firstLinks = readFirstListing(firstPageFailure);
    if (!firstLinks) {
        // A stop while the first page loads is the user's, not the site's.
        if (m_state.StopRequested.isSet()) {
            report(true, 0);
        } else {
            m_dialogs.showWithReason(
                MessageStyle::Failure, CatalogCrawler::NoSiteAccessText, firstPageFailure);
            m_outcome = RunOutcome::NoSiteAccess;
        }
        endRun();
        return;
    }

    m_view.setStatusText(u"Подключение к Excel"_s);
    m_workbookFile.ConnectExcel();
    m_view.setStatusText(u"Открытие файла Excel ..."_s);
    if (openWorkbook() && prepareImagesFolder()) {
        const CrawlEnd end = crawl(*firstLinks);
        const bool saved = finishCrawl(end);
        m_view.setStatusText(QString());
        QCoreApplication::processEvents();
        report(saved && end.failure == CatalogCrawler::Failure::None,
            saved ? m_state.NewCount : end.savedCount);
    } else {
        m_outcome = RunOutcome::WorkbookUnusable;
    }
    m_workbookFile.FinishExcel(m_state.StopRequested.isSet());
    endRun();
}

bool RunController::openWorkbook()
{
    WorkbookOpening opening = m_workbookFile.OpenWorkbook();
    if (opening.status == WorkbookStatus::OpenElsewhere) {
        if (!goOnDespiteLock(opening))
            return false;
        opening = m_workbookFile.OpenWorkbook(true);
    }
    if (opening.status != WorkbookStatus::Ready) {
        showFailure(openingMessage(opening), opening.failure);
        return false;
    }
    m_state.FixedColumnCount = RowLayout::FixedColumnCount;
    m_state.NextRow = opening.nextRow;
    m_view.setCounterText(QString::number(m_state.NextRow - 1));
    return true;
}

bool RunController::goOnDespiteLock(const WorkbookOpening& opening)
{
    const QString question = u"Файл "_s + QDir::toNativeSeparators(opening.path)
        + u" открыт в другой программе ("_s + opening.detail
        + u").\rЕсли она потом сохранит его, новые строки пропадут.\rПродолжить?"_s;
    return m_dialogs.show(MessageStyle::Question, question) == MessageAnswer::Yes;
}

QString RunController::openingMessage(const WorkbookOpening& opening)
{
    const QString file = QDir::toNativeSeparators(opening.path);
    switch (opening.status) {
    case WorkbookStatus::Ready:
    case WorkbookStatus::OpenElsewhere:
        break;
    case WorkbookStatus::CannotCreate:
        return u"Не удалось сохранить файл "_s + file + u'.';
    case WorkbookStatus::CannotOpen:
        return u"Не удалось найти файл "_s + file + u'.';
    case WorkbookStatus::WrongLayout:
        return WorkbookLayout::WrongFormatMessage;
    case WorkbookStatus::NotAFile:
        return u"Не удалось открыть файл "_s + file + u": это папка, а не файл."_s;
    case WorkbookStatus::Unreadable:
        return u"Не удалось открыть файл "_s + file + u": нет права на чтение."_s;
    case WorkbookStatus::LegacyFormat:
        return u"Файл "_s + file
            + u" сохранён в старом формате Excel (.xls), который парсер не читает.\r"
              u"Сохраните его в формате .xlsx под именем Zavrinello.xlsx и запустите парсер снова."_s;
    case WorkbookStatus::PartNotCopyable:
        return u"Не удалось сохранить файл "_s + file + u": часть "_s + opening.detail
            + u" зашифрована или сжата неизвестным способом.\r"
              u"Сохраните файл заново в Excel или LibreOffice."_s;
    case WorkbookStatus::FolderNotWritable:
        return u"Не удалось сохранить файл "_s + file + u": запись в папку "_s
            + QDir::toNativeSeparators(opening.detail) + u" невозможна."_s;
    case WorkbookStatus::DiskFull:
        return u"Не удалось сохранить файл "_s + file + u": на диске нет свободного места."_s;
    case WorkbookStatus::FileTooLarge:
        return u"Не удалось сохранить файл "_s + file
            + u": система не позволяет записать файл такого размера."_s;
    case WorkbookStatus::SheetFull:
        return u"В файле "_s + file
            + u" нет свободных строк: лист заполнен до последней строки %1."_s.arg(
                CatalogSheet::MaxRow);
    case WorkbookStatus::WorkbookFull:
        return u"В файле "_s + file
            + u" нет места для новых товаров: парсер держит файл в памяти, а с ними он занял бы "
              u"больше %1 МБ.\rПеренесите часть строк в другой файл и запустите парсер снова."_s
                  .arg(WorkbookLayout::DefaultHeldBytes / (1024 * 1024));
    }
    return {};
}

bool RunController::prepareImagesFolder()
{
    const QString folder = QDir(m_settings.programFolder).filePath(ProductExtractor::ImagesFolder);
    CreateDir(folder);
    const QString text = u"Не удалось сохранить картинки: "_s + QDir::toNativeSeparators(folder);
    if (!QFileInfo(folder).isDir()) {
        showFailure(text + u" — это не папка."_s, std::nullopt);
        return false;
    }
    // Tried once here: without it every picture of the crawl would be lost.
    QTemporaryFile probe(folder + u"/.~probe-XXXXXX"_s);
    errno = 0;
    if (!probe.open()) {
        showFailure(text + u" — папка недоступна для записи."_s, Failure::ofFile(probe));
        return false;
    }
    FileTransfer::RemoveLeftovers(folder);
    return true;
}

// Read with the retries of every page; only its links are kept, not the
// page, which may be large.
std::optional<ListingLinks> RunController::readFirstListing(QString& failure)
{
    RetryingReader reader(m_pages, m_view, m_state.StopRequested, m_settings.failedPages,
        CatalogCrawler::PageTimeoutSeconds);
    const QString page = reader.read(m_settings.catalogBaseUrl + FirstListingPath);
    if (page.isEmpty()) {
        failure = reader.lastVerdict().reason;
        return std::nullopt;
    }
    return ListingLinks::read(page, CatalogCrawler::MaxHeldLinkBytes);
}

RunController::CrawlEnd RunController::crawl(const ListingLinks& firstLinks)
{
    CatalogSheet* sheet = m_workbookFile.sheet();
    if (!sheet)
        return {};
    CatalogCrawler crawler(scrapeContext(*sheet));
    crawler.ParseCategory(firstLinks, m_settings.catalogBaseUrl + FirstListingPath);
    return { crawler.failure(), crawler.savedCount(), crawler.saveFailure() };
}

ScrapeContext RunController::scrapeContext(CatalogSheet& sheet)
{
    return { m_state, sheet, m_view, m_dialogs, m_pages, m_downloader, m_clock,
        m_settings.catalogBaseUrl, m_settings.imageBaseUrl, m_settings.programFolder,
        m_settings.failedPages };
}

bool RunController::finishCrawl(const CrawlEnd& end)
{
    // Without a sheet there was no crawl, and no picture was asked for.
    if (CatalogSheet* sheet = m_workbookFile.sheet())
        SettleRowPictures(scrapeContext(*sheet), m_state.NewCount - end.savedCount);
    switch (end.failure) {
    case CatalogCrawler::Failure::SaveFailed:
        // The rows after the last good save are lost to this run; a further
        // save would most likely fail the same way.
        showSaveFailed(end.saveFailure);
        return false;
    case CatalogCrawler::Failure::SheetFull:
        m_dialogs.show(MessageStyle::Failure,
            openingMessage({ WorkbookStatus::SheetFull, m_workbookFile.workbookPath(), 0, {} }));
        break;
    case CatalogCrawler::Failure::WorkbookFull:
        m_dialogs.show(MessageStyle::Failure,
            openingMessage({ WorkbookStatus::WorkbookFull, m_workbookFile.workbookPath(), 0, {} }));
        break;
    case CatalogCrawler::Failure::None:
        break;
    }
    return saveWorkbook();
}

bool RunController::saveWorkbook()
{
    Result<void> saved = m_workbookFile.SaveWorkbook();
    if (saved)
        return true;
    showSaveFailed(std::move(saved).failure());
    return false;
}

void RunController::showSaveFailed(const std::optional<Failure>& failure)
{
    showFailure(u"Не удалось сохранить файл "_s
            + QDir::toNativeSeparators(m_workbookFile.workbookPath()) + u'.',
        failure);
}

void RunController::showFailure(const QString& text, const std::optional<Failure>& failure)
{
    if (!failure) {
        m_dialogs.show(MessageStyle::Failure, text);
        return;
    }
    const QString reason = u"Причина: "_s + failure->detail();
    m_dialogs.showWithReason(MessageStyle::Failure, text, reason);
    m_view.warn(reason);
}

void RunController::report(bool usable, qint32 stored)
{
    m_outcome = !usable                 ? RunOutcome::WorkbookUnusable
        : m_state.StopRequested.isSet() ? RunOutcome::Stopped
        : m_state.hasPassingGaps()      ? RunOutcome::CompletedWithGaps
                                        : RunOutcome::Completed;
    if (m_state.StopRequested.isSet()) {
        m_dialogs.show(MessageStyle::Failure, u"Парсер остановлен."_s);
        m_state.StopRequested.clear();
    }
    QString text = u"Загрузка закончена.\rБыло загружено "_s + QString::number(stored)
        + u" новых товаров."_s;
    if (m_state.MissingPictures > 0)
        text += u"\rНе загружено картинок: "_s + QString::number(m_state.MissingPictures)
            + u". Их загрузят при следующем запуске."_s;
    m_dialogs.show(MessageStyle::Report, text);
    m_view.setStatusText(QString());
}

void RunController::endRun()
{
    m_state.IsRunning = false;
    m_downloader.setBackgroundFailureHandler(nullptr);
    m_pages.setThrottledHandler(nullptr);
    m_state.StopRequested.clear();
    m_view.setButtonCaption(RunView::StartCaption);
}

} // namespace zp
