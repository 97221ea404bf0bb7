// crestdoubler-web: a page in the browser that enlarges pictures and films
// 2:1 with the command's jobs, for the person at this machine.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/base/temporary_output.h"
#include "cli/hosting/module_loader.h"
#include "cli/media/picture/image_io.h"
#include "cli/pipeline/shared_pool.h"
#include "cli/web/access_token.h"
#include "cli/base/durable_files.h"
#include "cli/web/job_queue.h"
#include "cli/web/listening_socket.h"
#include "cli/web/request_guard.h"
#include "cli/web/server_options.h"
#include "cli/web/web_server.h"

namespace crest::cli {
namespace {

// The address in the printed URL: one the browser of this machine reaches.
std::string urlHost(const std::string& bind) {
    return isWildcard(bind) || bind == "localhost" ? "127.0.0.1" : bracketedAddress(bind);
}

int serve(const ServerOptions& options) {
    makePrivateFolder(options.dataFolder);
    const std::string token = loadOrMakeToken(options.dataFolder, options.newToken);
    const ListeningSocket socket = openListeningSocket(options.bind, options.port);
    const RequestGuard guard(token, options.bind, socket.port);
    SharedPool pool(defaultModulePath(), options.threads);
    JobQueue queue(options.dataFolder, pool);
    ServerLimits limits;
    limits.maxUpload = options.maxUpload;
    const WebServer server(socket.fd, guard, queue, limits);
    if (!socket.loopback)
        std::fprintf(stderr,
                     "crestdoubler-web: warning: listening on %s, not on loopback: anyone who has the URL below can "
                     "use this machine and read its results\n",
                     options.bind.c_str());
    std::printf("crestdoubler-web: open http://%s:%d/?token=%s\n", urlHost(options.bind).c_str(), socket.port,
                token.c_str());
    std::fflush(stdout);
    // Serves until a signal ends the process; the journal keeps what was under way.
    for (;;) ::pause();
}

}  // namespace
}  // namespace crest::cli

int main(int argc, char** argv) {
    using namespace crest::cli;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);  // a file size limit fails the job like a full disk
    removeTemporaryOutputsOnSignals();
    const ImageLibraryScope imageLibrary;
    try {
        const ServerOptions options = parseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.showHelp) {
            std::fputs(serverUsageText().c_str(), stdout);
            return 0;
        }
        return serve(options);
    } catch (const CommandError& error) {
        std::fprintf(stderr, "crestdoubler-web: %s\n", error.what());
        return static_cast<int>(error.status());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crestdoubler-web: %s\n", error.what());
        return 1;
    }
}
