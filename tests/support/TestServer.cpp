#include "TestServer.h"

#include "PostgresServer.h"
#include "TempDir.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace movik::test {

std::string engineName(Engine engine)
{
    const char* const names[] = {"SQLite", "PostgreSQL", "MariaDB"};
    return names[static_cast<int>(engine)];
}

std::unique_ptr<TestServer> makeTestServer(Engine engine)
{
    if (engine == Engine::Postgresql)
        return std::make_unique<PostgresServer>();
    if (engine == Engine::Mariadb)
        return makeMariadbServer();
    return nullptr;
}

TestServer* sharedServer(Engine engine, std::string& reason)
{
    struct Shared
    {
        std::unique_ptr<TestServer> server;
        std::string failure;
    };
    static std::map<Engine, Shared> servers;
    auto [at, first] = servers.try_emplace(engine);
    Shared& shared = at->second;
    if (first) {
        std::unique_ptr<TestServer> candidate = makeTestServer(engine);
        if (!candidate)
            shared.failure = engineName(engine) + " needs no server";
        if (candidate && candidate->start(shared.failure))
            shared.server = std::move(candidate);
    }
    reason = shared.failure;
    return shared.server.get();
}

bool serverRequired(Engine engine)
{
    const char* env =
        std::getenv(engine == Engine::Mariadb ? "MOVIK_REQUIRE_MARIADB" : "MOVIK_REQUIRE_POSTGRES");
    return env != nullptr && std::string(env) == "1";
}

namespace serverProcess {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool run(const std::string& command, const std::string& directory, std::string& error)
{
    const std::string output = directory + "/command.out";
    const int status = std::system((command + " >" + shellQuote(output) + " 2>&1").c_str());
    if (status == 0)
        return true;
    error = "\"" + command + "\" failed: " + readFile(output);
    return false;
}

bool makeDirectory(const std::string& pattern, unsigned owner, unsigned group, std::string& directory,
                   std::string& error)
{
    std::string path = pattern;
    if (::mkdtemp(path.data()) == nullptr) {
        error = "cannot create a directory " + pattern;
        return false;
    }
    directory = path;
    if (::chmod(directory.c_str(), 0755) != 0 || ::chown(directory.c_str(), owner, group) != 0) {
        error = "cannot hand " + directory + " to the server's user";
        return false;
    }
    return true;
}

bool startWatchdog(const std::string& stopCommand, const std::string& directory, std::string& error)
{
    const std::string watch = "while kill -0 " + std::to_string(::getpid()) +
                              " 2>/dev/null; do sleep 1; done; " + stopCommand + " >/dev/null 2>&1; rm -rf " +
                              shellQuote(directory);
    if (std::system(("setsid sh -c " + shellQuote(watch) + " </dev/null >/dev/null 2>&1 &").c_str()) != 0) {
        error = "cannot start the watchdog of the server";
        return false;
    }
    return true;
}

} // namespace serverProcess

} // namespace movik::test
