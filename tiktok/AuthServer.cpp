#include "tiktok/AuthServer.h"

namespace Vekta {

AuthServer::AuthServer(std::uint32_t firstPort, std::uint32_t attempts) : basePort(firstPort), portAttempts(attempts) {}

AuthServer::~AuthServer() {
    if (started == 1 && server) server->Stop();
    furtherServices.clear();
    service.reset();
    server.reset();
}

int AuthServer::StartService(std::shared_ptr<AuthService> newService) {
    if (started == 1) return 200;
    for (std::uint32_t i = 0; i < portAttempts; ++i) {
        const auto candidate = basePort + i;
        if (candidate > 0xFFFF) break;
        server = std::make_shared<talnet::http::server::Server>(static_cast<std::uint16_t>(candidate), false, -1);
        if (server->Start() == 200) {
            port = server->GetPort();
            started = 1;
            break;
        }
    }
    if (started != 1 || !server) return -3;
    service = newService;
    const std::string path = newService->GetPath();
    server->RegisterService(path, std::move(newService));
    return 200;
}

bool AuthServer::AddService(std::shared_ptr<AuthService> furtherService) {
    if (started != 1 || !server || !furtherService) return false;
    furtherServices.push_back(furtherService);
    const std::string path = furtherService->GetPath();
    server->RegisterService(path, std::move(furtherService));
    return true;
}

}  // namespace Vekta
