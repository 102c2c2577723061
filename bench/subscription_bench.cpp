// How long the account fetch spends reading what the panel sends: a 10,000-link subscription
// body in Base64 turned into nodes, and the look-ups over a server-list reply.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tests/support/base64_encode.h"
#include "vpn/base64.h"
#include "vpn/json_read.h"
#include "vpn/subscription.h"

namespace {

constexpr int kLinks = 10000;

std::string subscriptionBody(int links) {
    const std::string query =
        "?mode=multi&security=reality&encryption=none&type=tcp&flow=xtls-rprx-vision"
        "&pbk=Qh3t0Lw1bZyT9fE7uJ2nXk8sVc4mRa6pGd5oYi0lHe&sid=6ba85179e30d4fc2"
        "&sni=www.example.com&servername=www.example.com&spx=%2F&fp=chrome";
    std::string text;
    for (int i = 0; i < links; ++i) {
        const std::string n = std::to_string(i);
        text += "vless://6f1c2a8e-" + n + "-4b1e-9a53-2f0c8d7e6b5a@node" + n + ".example.net:443" +
                query + "#%E8%8A%82%E7%82%B9%20" + n + "\r\n";
    }
    return orvik_test::base64Encode(text, 76);
}

std::string serverListItem(int i) {
    const std::string n = std::to_string(i);
    const char* type = i % 5 == 0 ? "shadowsocks" : "vless";
    return R"({"id":)" + n + R"(,"type":")" + type + R"(","version":2,"name":"节点 )" + n +
           R"(","rate":"1.00","tags":["hk","fast"],"is_online":1,"cache_key":"k)" + n +
           R"(","host":"node)" + n + R"(.example.net","server_port":443,)" +
           R"("flow":"xtls-rprx-vision","tls_settings":{"server_name":"www.example.com",)" +
           R"("public_key":"Qh3t0Lw1bZyT9fE7uJ2n","short_id":"6ba85179"},)" +
           R"("last_check_at":1735689600})";
}

std::string serverListReply(int items) {
    std::string reply = R"({"data":[)";
    for (int i = 0; i < items; ++i) reply += (i > 0 ? "," : "") + serverListItem(i);
    return reply + "]}";
}

void subscriptionToNodes(benchmark::State& state) {
    const std::string body = subscriptionBody(kLinks);
    for (auto _ : state) {
        std::vector<vpn::NodeRecord> nodes;
        vpn::parseSubscription(body, nodes);
        if (nodes.size() != kLinks) state.SkipWithError("wrong node count");
        benchmark::DoNotOptimize(nodes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
    state.counters["links/s"] = benchmark::Counter(static_cast<double>(kLinks),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(subscriptionToNodes)->Unit(benchmark::kMillisecond);

void base64OfSubscription(benchmark::State& state) {
    const std::string body = subscriptionBody(kLinks);
    std::string bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vpn::base64Decode(body, bytes));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
}
BENCHMARK(base64OfSubscription)->Unit(benchmark::kMillisecond);

// What fetchAccount does with the server list: split it, then read each item's type and node.
void serverListToNodes(benchmark::State& state) {
    const std::string reply = serverListReply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<vpn::NodeRecord> nodes;
        for (const std::string& item : vpn::jsonObjectArray(reply, "data")) {
            const std::string type = vpn::jsonString(item, "type");
            if (type == "vless") nodes.push_back(vpn::parseServerItem(item, "user-uuid"));
        }
        benchmark::DoNotOptimize(nodes.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(serverListToNodes)->Arg(50)->Arg(1000)->Unit(benchmark::kMicrosecond);

// One look-up near the end of a large reply: a whole parse per call.
void lookupInLargeReply(benchmark::State& state) {
    const std::string reply = serverListReply(static_cast<int>(state.range(0)));
    const std::string wrapped = R"({"status":"success","data":)" + reply + R"(,"total":1})";
    for (auto _ : state) benchmark::DoNotOptimize(vpn::jsonInt(wrapped, "total", 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(wrapped.size()));
}
BENCHMARK(lookupInLargeReply)->Arg(50)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
