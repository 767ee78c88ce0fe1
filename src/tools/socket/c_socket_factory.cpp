#include "tools/socket/c_socket_factory.h"

#include <mutex>

#include "tools/socket/c_socket_recv_u.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_socket_send_video.h"

namespace {
std::mutex g_factory_mutex;
std::unique_ptr<c_socket_factory> g_factory;
}  // namespace

c_socket_factory* c_socket_factory::instance()
{
    std::lock_guard<std::mutex> g(g_factory_mutex);
    if (!g_factory)
        g_factory.reset(new c_socket_factory);
    return g_factory.get();
}

void c_socket_factory::release()
{
    std::lock_guard<std::mutex> g(g_factory_mutex);
    g_factory.reset();
}

c_socket_thread* c_socket_factory::create_send_thread(int kind, std::shared_ptr<c_tcp_sock> sock,
                                                      mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake)
{
    switch (kind) {
    case SOCKET_KIND_VIDEO:
        return new c_socket_send_video(std::move(sock), queue, wake);
    case SOCKET_KIND_MEDIA:
        return new c_socket_send_u(std::move(sock), queue, wake);
    default:
        return nullptr;
    }
}

c_socket_thread* c_socket_factory::create_recv_thread(int kind, std::shared_ptr<c_tcp_sock> sock,
                                                      mt_queue<CQUEUE_MESSAGE>* queue)
{
    switch (kind) {
    case SOCKET_KIND_VIDEO:
        return new c_socket_recv_video(std::move(sock));
    case SOCKET_KIND_MEDIA:
        return new c_socket_recv_u(std::move(sock), queue);
    default:
        return nullptr;
    }
}
