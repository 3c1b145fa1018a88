#include "tiktok/AuthServer.h"

namespace Vekta {

AuthServer::AuthServer(std::uint32_t firstPort, std::uint32_t attempts)
    : basePort_(firstPort), portAttempts_(attempts) {}

AuthServer::~AuthServer() {
    if (started_ == 1 && server_) server_->Stop();
    furtherServices_.clear();
    service_.reset();
    server_.reset();
}

int AuthServer::StartService(std::shared_ptr<AuthService> newService) {
    if (started_ == 1) return 200;
    for (std::uint32_t i = 0; i < portAttempts_; ++i) {
        const auto candidate = basePort_ + i;
        if (candidate > 0xFFFF) break;
        server_ = std::make_shared<talnet::http::server::Server>(static_cast<std::uint16_t>(candidate), false, -1);
        if (server_->Start() == 200) {
            port_ = server_->GetPort();
            started_ = 1;
            break;
        }
    }
    if (started_ != 1 || !server_) return -3;
    service_ = newService;
    const std::string path = newService->GetPath();
    server_->RegisterService(path, std::move(newService));
    return 200;
}

bool AuthServer::AddService(std::shared_ptr<AuthService> furtherService) {
    if (started_ != 1 || !server_ || !furtherService) return false;
    furtherServices_.push_back(furtherService);
    const std::string path = furtherService->GetPath();
    server_->RegisterService(path, std::move(furtherService));
    return true;
}

}  // namespace Vekta
