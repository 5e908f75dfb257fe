// A user-sized store for the benchmarks: clients, projects (one of them very large), timers of all
// three types and their pauses, written through the model in one save. The file is generated once
// per shape, cached under /tmp and copied for every run, so writing benchmarks start alike.
#pragma once

#include "model/client.h"
#include "model/enums.h"
#include "model/fetch_helpers.h"
#include "model/managed_object.h"
#include "model/pause_entry.h"
#include "model/persistence_controller.h"
#include "model/project.h"
#include "model/timer.h"

#include "model/data_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

// Raise when the generator writes different data, so stale cached files are not reused.
inline constexpr int generatorVersion = 2;

struct StoreShape {
    int clients = 50;
    int projects = 2000;
    int timers = 200000;
    int pauses = 200000;
    int largeProjectTimers = 20000; // timers of the one large project; the rest are spread evenly
    int runningTimers = 5;
    // What the exports are measured on: notes of a few hundred characters over two lines (markup
    // characters among them) and clients and projects in many currencies, not four.
    bool longNotes = false;
    int currencies = 4;

    // The default shape, or one scaled down by HORAVINE_BENCH_TIMERS (for profiling under valgrind):
    // pauses and the large project shrink in proportion.
    static StoreShape fromEnvironment()
    {
        StoreShape shape;
        if (const char* text = std::getenv("HORAVINE_BENCH_TIMERS"); text && *text) {
            const int timers = std::atoi(text);
            if (timers < 100)
                throw std::invalid_argument("HORAVINE_BENCH_TIMERS must be at least 100");
            shape.pauses = static_cast<int>(static_cast<long long>(shape.pauses) * timers / shape.timers);
            shape.largeProjectTimers =
                static_cast<int>(static_cast<long long>(shape.largeProjectTimers) * timers / shape.timers);
            shape.timers = timers;
        }
        return shape;
    }

    std::string tag() const
    {
        std::string tag;
        auto add = [&tag](const char* key, int value) {
            tag += key;
            tag += std::to_string(value);
        };
        add("c", clients);
        add("-p", projects);
        add("-t", timers);
        add("-pe", pauses);
        add("-l", largeProjectTimers);
        add("-r", runningTimers);
        add("-s", model::storeOptions().schemaVersion);
        add("-g", generatorVersion);
        if (longNotes)
            tag += "-notes";
        if (currencies != 4)
            add("-cur", currencies);
        return tag;
    }
};

namespace detail {

using foundation::Date;
using foundation::Decimal;
using std::chrono::minutes;

inline Decimal decimal(const std::string& text)
{
    auto value = Decimal::parse(text);
    if (!value)
        throw std::logic_error("bad decimal literal " + text);
    return *value;
}

// "12.05" from a number of cents.
inline Decimal money(long cents)
{
    const std::string fraction = std::to_string(100 + cents % 100).substr(1);
    return decimal(std::to_string(cents / 100) + "." + fraction);
}

// What each timer becomes, decided before anything is inserted so the running timers can be the
// newest period timers and every project gets its exact share of pauses.
struct TimerPlan {
    int project = 0;
    model::TimerType type = model::TimerType::period;
    int pauses = 0;
    bool running = false;
};

inline std::vector<TimerPlan> planTimers(const StoreShape& shape)
{
    if (shape.projects < 2 || shape.largeProjectTimers > shape.timers)
        throw std::invalid_argument("a store shape needs two projects and a large project within the timers");
    std::vector<TimerPlan> plans(static_cast<std::size_t>(shape.timers));
    // The large project (index 0) takes evenly spaced timers across the whole time span; the other
    // timers go round the remaining projects, as a user switching between projects would record them.
    std::vector<std::vector<int>> timersOfProject(static_cast<std::size_t>(shape.projects));
    int nextSmall = 0;
    for (long long i = 0; i < shape.timers; ++i) {
        const bool large =
            (i + 1) * shape.largeProjectTimers / shape.timers > i * shape.largeProjectTimers / shape.timers;
        const int project = large ? 0 : 1 + nextSmall++ % (shape.projects - 1);
        plans[static_cast<std::size_t>(i)].project = project;
        timersOfProject[static_cast<std::size_t>(project)].push_back(static_cast<int>(i));
    }
    // Per project: 16 of 20 timers are periods, 3 durations, 1 an expense; the project's share of the
    // pauses goes round its period timers.
    long long timersBefore = 0;
    for (const auto& members : timersOfProject) {
        std::vector<int> periods;
        for (std::size_t k = 0; k < members.size(); ++k) {
            auto& plan = plans[static_cast<std::size_t>(members[k])];
            const auto slot = k % 20;
            plan.type = slot < 16 ? model::TimerType::period
                                  : (slot < 19 ? model::TimerType::duration : model::TimerType::expense);
            if (plan.type == model::TimerType::period)
                periods.push_back(members[k]);
        }
        const long long timersAfter = timersBefore + static_cast<long long>(members.size());
        const long long share = timersAfter * shape.pauses / shape.timers - timersBefore * shape.pauses / shape.timers;
        timersBefore = timersAfter;
        if (periods.empty() && share > 0)
            throw std::invalid_argument("a project with pauses but no period timers");
        for (long long j = 0; j < share; ++j)
            ++plans[static_cast<std::size_t>(periods[static_cast<std::size_t>(j) % periods.size()])].pauses;
    }
    int running = 0;
    for (auto plan = plans.rbegin(); plan != plans.rend() && running < shape.runningTimers; ++plan) {
        if (plan->type == model::TimerType::period) {
            plan->running = true;
            ++running;
        }
    }
    return plans;
}

inline const char* noteKind(int i)
{
    static const char* const kinds[] = {"Meeting", "Review", "Call", "Design", "Workshop", "Support", "Planning"};
    return kinds[i % 7];
}

// A long note: its kind and number, then a paragraph over two lines (CR LF between them, as pasted
// from another program) with characters the HTML escapes.
inline std::string longNote(int i, int number)
{
    static const char* const paragraphs[] = {
        "Went through the open tickets with the team & agreed on <priorities> for the next 100% release; "
        "the rest waits for the customer's answer.\r\nFollow-up: write the minutes, send them round and "
        "book the next meeting for the same time next week, with the design review first.",
        "Fixed the import of the \"legacy\" files, which broke on names with accents (Café, Zürich) and on "
        "empty lines.\r\nChecked the result against last month's export; the totals agree to the cent and "
        "the two reports differ only in their order.",
    };
    return std::string(noteKind(i)) + " " + std::to_string(number) + ": " + paragraphs[i % 2];
}

inline void addPauses(data::ObjectContext& context, model::Timer& timer, int count, Date start, Date end)
{
    const auto span = std::chrono::floor<minutes>(end - start).count();
    const auto length = std::clamp<long long>(span / (2 * (count + 1)), 1, 15);
    for (int j = 0; j < count; ++j) {
        auto* pause = model::initInContext<model::PauseEntry>(context);
        const Date pauseStart = start + minutes(span * (j + 1) / (count + 1));
        pause->setStart(pauseStart);
        pause->setEnd(pauseStart + minutes(length));
        pause->setTimer(&timer);
    }
}

inline void fillStore(data::ObjectContext& context, const StoreShape& shape)
{
    std::mt19937 random(20240601);
    const Date now = std::chrono::floor<minutes>(foundation::now());
    const Date begin = now - std::chrono::days(730);
    const auto spanMinutes = std::chrono::floor<minutes>(now - begin).count();
    static const char* const currencyPool[] = {"EUR", "USD", "GBP", "CHF", "JPY",    "SEK", "NOK",    "DKK",
                                               "PLN", "CZK", "HUF", "AUD", "CAD",    "NZD", "SGD",    "HKD",
                                               "INR", "BRL", "MXN", "ZAR", "\u20AC", "$",   "\u00A3", "\u00A5"};
    const std::size_t currencyCount =
        std::clamp<std::size_t>(static_cast<std::size_t>(shape.currencies), 1, std::size(currencyPool));
    auto currency = [&](std::size_t index) { return std::string(currencyPool[index % currencyCount]); };

    std::vector<model::Client*> clients;
    for (int c = 0; c < shape.clients; ++c) {
        auto* client = model::initInContext<model::Client>(context);
        client->setName("Client " + std::to_string(c + 1));
        client->setHourlyRate(Decimal(60 + 5 * (c % 12)));
        client->setCurrency(currency(static_cast<std::size_t>(c)));
        clients.push_back(client);
    }

    // Projects in a user-made order, not in creation order.
    std::vector<std::int64_t> order(static_cast<std::size_t>(shape.projects));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<model::Project*> projects;
    for (int p = 0; p < shape.projects; ++p) {
        auto* project = model::initInContext<model::Project>(context);
        project->setName(p == 0 ? std::string("Retainer (large)") : "Project " + std::to_string(p));
        project->setSortOrder(order[static_cast<std::size_t>(p)]);
        if (p % 4 == 0)
            project->setNotes("Contract " + std::to_string(1000 + p));
        if (!clients.empty() && p % 10 != 9)
            project->setClient(clients[static_cast<std::size_t>(p) % clients.size()]);
        if (p % 6 == 0)
            project->setCustomHourlyRate(money(9000 + 250 * (p % 9)));
        if (p % 23 == 0)
            project->setCustomCurrency(shape.currencies == 4 ? std::string("CHF")
                                                             : currency(static_cast<std::size_t>(p / 23)));
        project->setArchived(p % 15 == 14);
        project->setExpanded(p % 3 == 0);
        projects.push_back(project);
    }

    const auto plans = planTimers(shape);
    std::uniform_int_distribution<int> jitter(0, 59), periodLength(15, 480), runningAge(20, 300);
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const auto& plan = plans[i];
        auto* timer = model::initInContext<model::Timer>(context);
        timer->setProject(projects[static_cast<std::size_t>(plan.project)]);
        timer->setType(model::rawValue(plan.type));
        const int number = static_cast<int>(i % 9000) + 1000;
        timer->setNotes(shape.longNotes ? longNote(static_cast<int>(i), number)
                                        : std::string(noteKind(static_cast<int>(i))) + " " + std::to_string(number));
        Date start =
            begin
            + minutes(spanMinutes * static_cast<long long>(i) / static_cast<long long>(plans.size()) + jitter(random));
        switch (plan.type) {
        case model::TimerType::period: {
            Date end = start + minutes(periodLength(random));
            if (plan.running) {
                start = now - minutes(runningAge(random));
                end = now;
            } else {
                timer->setEnd(end);
            }
            timer->setStart(start);
            addPauses(context, *timer, plan.pauses, start, end);
            break;
        }
        case model::TimerType::duration:
            // As the project creates them: closed at once, end = start.
            timer->setStart(start);
            timer->setEnd(start);
            timer->setFixedDuration(15 * (1 + static_cast<long long>(i % 16)));
            break;
        case model::TimerType::expense:
            timer->setStart(start);
            timer->setEnd(start);
            timer->setFixedCost(money(500 + static_cast<long>(i * 37 % 20000)));
            break;
        }
        if (i % 8 == 3)
            timer->setCustomHourlyRate(money(7500 + 500 * static_cast<long>(i % 7)));
        // Older work is mostly billed; billing freezes the rate in force.
        if (!plan.running && start < now - std::chrono::days(90) && i % 3 != 0)
            timer->setBilled(true);
    }
}

// Writes a store of `shape` at `path` through the model, in one save. Returns an error text, empty on success.
inline std::string generateStore(const std::filesystem::path& path, const StoreShape& shape)
{
    foundation::NotificationCenter center;
    model::PersistenceController controller(path, center);
    if (controller.status() != model::PersistenceController::Status::ok)
        return controller.statusMessage();
    auto& context = controller.managedObjectContext();
    context.undoManager().disableUndoRegistration(); // a generated store has nothing to undo
    fillStore(context, shape);
    context.processPendingChanges(); // the change notice saves everything in one transaction
    if (controller.status() != model::PersistenceController::Status::ok || context.hasUnsavedChanges())
        return "the generated store was not saved: " + controller.statusMessage();
    return {};
}

inline std::filesystem::path makeTemporaryFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder under " + pattern);
    return pattern;
}

} // namespace detail

// The cached store file of the shape, generated when missing. Generation runs in a child process,
// so the peak memory of the benchmark process stays its own.
inline std::filesystem::path cachedStoreFile(const StoreShape& shape = StoreShape::fromEnvironment())
{
    const auto cached = std::filesystem::temp_directory_path() / ("horavine-bench-" + shape.tag() + ".horavine");
    if (std::filesystem::exists(cached))
        return cached;
    std::fprintf(stderr, "Generating the benchmark store %s ...\n", cached.c_str());
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot fork the store generator");
    if (child == 0) {
        int code = 1;
        try {
            const auto folder = detail::makeTemporaryFolder("horavine-bench-gen-");
            const auto store = folder / "Projects.horavine";
            if (const auto error = detail::generateStore(store, shape); !error.empty()) {
                std::fprintf(stderr, "Store generation failed: %s\n", error.c_str());
            } else {
                // Renamed into place only once complete, so no reader sees half a file.
                const auto partial = cached.string() + ".part" + std::to_string(::getpid());
                std::filesystem::copy_file(store, partial);
                std::filesystem::rename(partial, cached);
                code = 0;
            }
            std::filesystem::remove_all(folder);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Store generation failed: %s\n", e.what());
        }
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !std::filesystem::exists(cached))
        throw std::runtime_error("the benchmark store could not be generated");
    return cached;
}

// A private copy of the cached store in its own temporary folder (with room for its lock file),
// removed with the object.
class StoreCopy {
public:
    explicit StoreCopy(const StoreShape& shape = StoreShape::fromEnvironment())
        : folder_(detail::makeTemporaryFolder("horavine-bench-run-")), path_(folder_ / "Projects.horavine")
    {
        std::filesystem::copy_file(cachedStoreFile(shape), path_);
    }
    ~StoreCopy()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    StoreCopy(const StoreCopy&) = delete;
    StoreCopy& operator=(const StoreCopy&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
};

// The project with the most timers (the large one of a generated store).
inline model::Project* largestProject(data::ObjectContext& context)
{
    model::Project* largest = nullptr;
    std::size_t most = 0;
    for (auto* project : model::fetch<model::Project>(context)) {
        const auto count = project->timers().size();
        if (!largest || count > most) {
            largest = project;
            most = count;
        }
    }
    return largest;
}

// A line of /proc/self/status such as "VmHWM" in KiB, or nothing when it cannot be read.
inline std::optional<long> processStatusKiB(const std::string& field, const std::string& process = "self")
{
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    }
    return std::nullopt;
}

// Lowers the process's recorded peak to its current size, so a later VmHWM reflects only what follows.
inline bool resetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

} // namespace bench
