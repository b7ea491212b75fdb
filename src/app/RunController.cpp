#include "app/RunController.h"

#include "app/Dialogs.h"
#include "app/RunState.h"
#include "app/RunView.h"
#include "net/FileDownloader.h"
#include "net/PageReader.h"
#include "scrape/CatalogCrawler.h"
#include "scrape/ScrapeContext.h"
#include "util/Clock.h"
#include "util/PathUtils.h"
#include "util/Utf8.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

using namespace Qt::Literals::StringLiterals;

namespace zp {

RunController::RunController(RunState& state, RunView& view, Dialogs& dialogs, PageReader& pages,
    Downloader& downloader, const Clock& clock, RunSettings settings,
    ExcelConnection::Handover handover)
    : m_state(state)
    , m_view(view)
    , m_dialogs(dialogs)
    , m_pages(pages)
    , m_downloader(downloader)
    , m_clock(clock)
    , m_settings(std::move(settings))
    , m_excel(state, view, dialogs, m_settings.programFolder, std::move(handover))
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
    if (m_dialogs.show(MessageStyle::StopQuestion, u"Остановить парсерсер?"_s)
        == MessageAnswer::Yes)
        m_state.StopRequested.set();
}

void RunController::performRun()
{
    m_state.IsRunning = true;
    m_view.setButtonCaption(u"Стоп"_s);
    m_state.StartTime = m_clock.now();
    m_state.NewCount = 0;

    const QString firstPage = UTF8ToUnicode(m_pages.ReadHTML(
        m_settings.catalogBaseUrl + FirstListingPath, QString(), PageTimeoutSeconds));
    if (firstPage.isEmpty()) {
        m_dialogs.show(MessageStyle::Failure, u"Нет доступа к сайту."_s);
        m_outcome = RunOutcome::NoSiteAccess;
        endRun();
        return;
    }

    m_view.setStatusText(u"Подключение к Excel"_s);
    if (!m_excel.ConnectExcel()) {
        m_dialogs.show(MessageStyle::Failure, u"Не удалось подключиться к Excel."_s);
        m_outcome = RunOutcome::WorkbookUnusable;
        endRun();
        return;
    }
    m_view.setStatusText(u"Открытие файла Excel ..."_s);
    if (m_excel.OpenWorkbook() && prepareImagesFolder()) {
        const CrawlEnd end = crawl(firstPage);
        const bool saved = finishCrawl(end);
        m_view.setStatusText(QString());
        QCoreApplication::processEvents();

        const bool sheetFull = end.failure == CatalogCrawler::Failure::SheetFull;
        m_outcome = !saved || sheetFull     ? RunOutcome::WorkbookUnusable
            : m_state.StopRequested.isSet() ? RunOutcome::Stopped
                                            : RunOutcome::Completed;
        if (m_state.StopRequested.isSet()) {
            m_dialogs.show(MessageStyle::Failure, u"Парсер остановлен."_s);
            m_state.StopRequested.clear();
        }
        const qint32 stored = saved ? m_state.NewCount : end.savedCount;
        m_dialogs.show(MessageStyle::Report,
            u"Загрузка закончена.\rБыло загружено "_s + QString::number(stored)
                + u" новых товаров."_s);
        m_view.setStatusText(QString());
    } else {
        m_outcome = RunOutcome::WorkbookUnusable;
    }
    m_excel.FinishExcel();
    endRun();
}

bool RunController::prepareImagesFolder()
{
    const QString folder = QDir(m_settings.programFolder).filePath(u"Images"_s);
    CreateDir(folder);
    // Tried once here: without it every picture of the crawl would be lost.
    QTemporaryFile probe(folder + u"/.~probe-XXXXXX"_s);
    if (QFileInfo(folder).isDir() && probe.open()) {
        FileDownloader::RemoveLeftovers(folder);
        return true;
    }
    m_dialogs.show(MessageStyle::Failure,
        u"Не удалось сохранить картинки: "_s + QDir::toNativeSeparators(folder)
            + (QFileInfo(folder).isDir() ? u" — папка недоступна для записи."_s
                                         : u" — это не папка."_s));
    return false;
}

RunController::CrawlEnd RunController::crawl(const QString& firstPage)
{
    CatalogSheet* sheet = m_excel.sheet();
    if (!sheet)
        return {};
    const ScrapeContext context { m_state, *sheet, m_view, m_dialogs, m_pages, m_downloader,
        m_clock, m_settings.catalogBaseUrl, m_settings.imageBaseUrl, m_settings.programFolder };
    CatalogCrawler crawler(context);
    crawler.ParseCategory(firstPage, m_settings.catalogBaseUrl + FirstListingPath);
    return { crawler.failure(), crawler.savedCount() };
}

bool RunController::finishCrawl(const CrawlEnd& end)
{
    switch (end.failure) {
    case CatalogCrawler::Failure::SaveFailed:
        // The rows after the last good save are lost to this run; a further
        // save would most likely fail the same way.
        m_dialogs.show(MessageStyle::Failure, m_excel.SaveFailedMessage());
        return false;
    case CatalogCrawler::Failure::SheetFull:
        m_dialogs.show(MessageStyle::Failure, m_excel.SheetFullMessage());
        break;
    case CatalogCrawler::Failure::None:
        break;
    }
    return m_excel.SaveWorkbook();
}

void RunController::endRun()
{
    m_state.IsRunning = false;
    m_state.StopRequested.clear();
    m_view.setButtonCaption(u"Старт"_s);
}

} // namespace zp
