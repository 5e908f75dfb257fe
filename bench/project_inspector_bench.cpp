// The project pane over the user-sized store (2,000 projects, 200,000 timers), one project with 500
// attached files: selecting that project until its pane has painted, and a drop of 50 new files on
// its list until the list shows them, with every attached file present and with 10 of them missing.
#include "bench_store_fixture.h"

#include "inspectors/attachments_table_view_controller.h"
#include "inspectors/project_inspector_view_controller.h"

#include "model/attachment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

constexpr int attachedFiles = 500;
constexpr int droppedFiles = 50;
constexpr int missingFiles = 10;

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

fs::path writeFile(const fs::path& path)
{
    std::ofstream(path) << path.filename().string();
    return path;
}

struct Session {
    std::unique_ptr<bench::StoreCopy> store;
    std::unique_ptr<model::PersistenceController> persistence;
    fs::path folder;
    std::unique_ptr<QWidget> window; // the inspector column
    inspectors::ProjectInspectorViewController* pane = nullptr;
    model::Project* attached = nullptr; // the project of 500 files
    model::Project* other = nullptr;
    std::vector<fs::path> files;
    int dropRound = 0;

    data::ObjectContext& context() { return persistence->managedObjectContext(); }

    void open()
    {
        if (persistence)
            return;
        store = std::make_unique<bench::StoreCopy>();
        persistence = std::make_unique<model::PersistenceController>(store->path());
        folder = bench::detail::makeTemporaryFolder("horavine-attachments-bench-");
        const auto projects = model::fetchAll<model::Project>(context());
        attached = projects.at(1);
        other = projects.at(2);
        for (int i = 0; i < attachedFiles; ++i) {
            files.push_back(writeFile(folder / ("document " + std::to_string(i) + ".pdf")));
            attached->addAttachment(files.back());
        }
        context().processPendingChanges();
        window = std::make_unique<QWidget>();
        window->resize(320, 900);
        new QVBoxLayout(window.get());
        pane = new inspectors::ProjectInspectorViewController(&context(), window.get());
        window->layout()->addWidget(pane);
        window->show();
        QCoreApplication::processEvents();
    }
    // Shows `project` and returns once the pane has painted its attachments list. (The pane itself
    // gets no paint: its scroll area covers it.)
    void select(model::Project* project)
    {
        QWidget* list = pane->attachmentsTableViewController()->attachmentsTableView()->viewport();
        PaintCounter counter;
        list->installEventFilter(&counter);
        pane->setInspectedObject(project);
        list->update();
        while (counter.paints == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        list->removeEventFilter(&counter);
    }
    // 50 new files, written before any attached file goes missing (so none takes over a missing
    // file's identity).
    std::unique_ptr<QMimeData> newFiles()
    {
        QList<QUrl> urls;
        for (int i = 0; i < droppedFiles; ++i) {
            const fs::path path =
                writeFile(folder / ("drop " + std::to_string(dropRound) + "-" + std::to_string(i) + ".txt"));
            urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
        }
        ++dropRound;
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        return data;
    }
    // Removes the attachments a drop added, so every drop meets the same 500.
    void removeDropped()
    {
        for (model::Attachment* attachment : attached->attachments())
            if (attachment->fileName()->starts_with("drop "))
                context().deleteObject(attachment);
        context().processPendingChanges();
    }
    void close()
    {
        window.reset();
        persistence.reset();
        store.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

Session& session()
{
    static Session s;
    return s;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

void BM_SelectProjectWith500Attachments(benchmark::State& state)
{
    Session& s = session();
    s.open();
    std::vector<double> milliseconds;
    for (auto _ : state) {
        s.select(s.other);
        QElapsedTimer clock;
        clock.start();
        s.select(s.attached);
        milliseconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    state.counters["median_ms"] = median(milliseconds);
    state.counters["max_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
    state.counters["rows"] = static_cast<double>(s.attached->attachments().size());
}
BENCHMARK(BM_SelectProjectWith500Attachments)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

// A drop of 50 new files until the list has them (the drop, the change notice, the list refetched).
// The argument is the number of the 500 attached files that are missing on disk.
void BM_Drop50Files(benchmark::State& state)
{
    Session& s = session();
    s.open();
    s.select(s.attached);
    auto* table = s.pane->attachmentsTableViewController();
    const auto missing = static_cast<std::size_t>(state.range(0));
    std::vector<double> milliseconds;
    for (auto _ : state) {
        state.PauseTiming();
        const auto drop = s.newFiles();
        for (std::size_t i = 0; i < missing; ++i)
            fs::remove(s.files[i]);
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        table->acceptDrop(*drop);
        s.context().processPendingChanges();
        milliseconds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        state.PauseTiming();
        if (s.attached->attachments().size() != attachedFiles + droppedFiles)
            state.SkipWithError("the drop did not attach every new file");
        for (std::size_t i = 0; i < missing; ++i)
            writeFile(s.files[i]);
        s.removeDropped();
        state.ResumeTiming();
    }
    state.counters["median_ms"] = median(milliseconds);
    state.counters["max_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
}
BENCHMARK(BM_Drop50Files)->Arg(0)->Arg(missingFiles)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session().close();
    return 0;
}
