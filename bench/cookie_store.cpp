// The cookie store taking 80,000 Set-Cookie values and answering the next
// request's Cookie header: for one host (its fifty most recently used cookies
// kept) and spread over 80,000 hosts (3,000 kept in all).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "http/NetCookieManager.h"
#include "http/NetURI.h"

namespace {

constexpr int kCookies = 80000;

std::vector<std::string> cookieTexts() {
    std::vector<std::string> texts;
    texts.reserve(kCookies);
    for (int i = 0; i < kCookies; ++i) texts.push_back("c" + std::to_string(i) + "=value; path=/");
    return texts;
}

void BM_TakeCookiesFromOneHost(benchmark::State& state) {
    const std::vector<std::string> texts = cookieTexts();
    for (auto _ : state) {
        net::TNetCookieManager manager;
        for (const std::string& text : texts) manager.TakeSetCookie(text, "search.example.com");
        benchmark::DoNotOptimize(manager.CookieHeaderText(net::TNetURI("http://search.example.com/"), false));
    }
    state.SetItemsProcessed(state.iterations() * kCookies);
}
BENCHMARK(BM_TakeCookiesFromOneHost)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TakeCookiesFromManyHosts(benchmark::State& state) {
    const std::vector<std::string> texts = cookieTexts();
    std::vector<std::string> hosts;
    for (int i = 0; i < kCookies; ++i) hosts.push_back("host" + std::to_string(i) + ".example.com");
    for (auto _ : state) {
        net::TNetCookieManager manager;
        for (int i = 0; i < kCookies; ++i) manager.TakeSetCookie(texts[i], hosts[i]);
        benchmark::DoNotOptimize(manager.CookieHeaderText(net::TNetURI("http://" + hosts.back() + "/"), false));
    }
    state.SetItemsProcessed(state.iterations() * kCookies);
}
BENCHMARK(BM_TakeCookiesFromManyHosts)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
