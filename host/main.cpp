// qovixd: serves the QOVIX model repository over ONC RPC by handing every
// model call to the loaded libQOVIX_os.so.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <variant>

#include "host/connection_limits.h"
#include "host/host_error.h"
#include "host/loaded_library.h"
#include "host/new_store_file.h"
#include "host/options.h"
#include "host/rpc_endpoints.h"
#include "host/serve_loop.h"
#include "host/served_repository.h"
#include "host/serving_context.h"
#include "host/stream_listener.h"
#include "host/tls_credentials.h"

namespace {

int serve(const HostOptions& options) {
  // A malformed access file stops qovixd before anything else starts.
  const AccessPolicy policy =
      options.accessFile.empty() ? AccessPolicy() : AccessPolicy::load(options.accessFile);
  const std::unique_ptr<TlsCredentials> tls =
      options.tlsCertificate.empty()
          ? nullptr
          : std::make_unique<TlsCredentials>(options.tlsCertificate, options.tlsKey,
                                             options.tlsAuthority);
  const ConnectionLimits limits = fitToDescriptorLimit(options.connectionLimits);
  if (limits.maxConnections < options.connectionLimits.maxConnections) {
    std::fprintf(stderr, "qovixd: the descriptor limit allows %zu connections, not %zu\n",
                 limits.maxConnections, options.connectionLimits.maxConnections);
  }
  const SignalWatch signals{SIGINT, SIGTERM};
  const LoadedLibrary library(options.libraryPath.empty() ? LoadedLibrary::defaultPath()
                                                          : options.libraryPath);
  // Before the repository, so that a failed start closes the file first.
  NewStoreFile newFile(options);
  // Declared after the library, so it goes first: the objects clients still
  // hold are released while the library that made them is loaded.
  ServedRepository repository(options);
  newFile.opened();
  ServingContext serving(library.entry(), repository.handle(), &repository.repository().store(),
                         policy, options.principalsInForce());
  {
    // Without TLS, UDP is served too; TLS required, only TLS on TCP is.
    const RpcEndpoints endpoints(&serving, options.bindAddress, options.port,
                                 options.registerWithRpcbind, limits, !options.tlsRequired);
    endpoints.connections().serveTls(tls.get(), options.tlsRequired, options.principalGrace);
    repository.serveOn(endpoints.port());
    std::printf("qovixd listening on %s (%s)\n", endpoints.listeningAddress().c_str(),
                endpoints.protocols());
    if (tls) {
      std::printf("qovixd serves RPC-with-TLS%s%s\n",
                  tls->verifiesClients() ? ", to clients with a certificate its CA signed" : "",
                  options.tlsRequired ? ", and nothing without it" : "");
    }
    std::printf("qovixd keeps the repository in %s\n", repository.storeDescription().c_str());
    std::fflush(stdout);
    newFile.keep();
    const int signal = serveUntilSignalled(signals, endpoints.connections());
    std::fprintf(stderr, "qovixd: %s, stopping\n", strsignal(signal));
    endpoints.connections().closeAll();
  }
  return 0;  // the library unloads as `library` goes, running its at-exit list
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = parseHostOptions(argc, argv);
  if (const auto* exit = std::get_if<CommandLineExit>(&parsed)) {
    std::fputs(exit->text.c_str(), exit->status == 0 ? stdout : stderr);
    return exit->status;
  }
  // A client that vanishes must cost its connection, not the server; a
  // write past a file-size limit (a quota, `ulimit -f`) fails with EFBIG,
  // which the call it happens in answers, instead of killing the server.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return serve(std::get<HostOptions>(parsed));
  } catch (const HostError& error) {
    std::fprintf(stderr, "qovixd: %s\n", error.what());
    return 1;
  }
}
