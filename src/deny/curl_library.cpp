// libcurl is opened on the first request to the school's service, not when the program starts:
// the library and its TLS and LDAP chain (bound at load) cost every start of tarvel-ctl and the
// window milliseconds, and most never ask the service anything. The calls keep libcurl's names;
// these definitions are hidden in the program and forward to the library's, found once each.
// Without the library a request fails as one that libcurl could not start ("(libcurl)").
#define CURL_DISABLE_TYPECHECK
#pragma GCC visibility push(hidden)
#include <curl/curl.h>
#pragma GCC visibility pop

#include <dlfcn.h>

#include <cstdarg>
#include <mutex>

namespace {

void* symbolOf(const char* name) {
    static void* library = nullptr;
    static std::once_flag once;
    std::call_once(once, [] { library = dlopen(TARVEL_CURL_SONAME, RTLD_NOW | RTLD_LOCAL); });
    return library ? dlsym(library, name) : nullptr;
}

template <typename F>
F find(const char* name) {
    return reinterpret_cast<F>(symbolOf(name));
}

// Every option and every answer this program passes is one long, pointer or function pointer.
static_assert(sizeof(long) == sizeof(void*));

}  // namespace

#define FORWARD(ret, name, params, args, missing)                                \
    extern "C" ret name params {                                                 \
        static const auto real = find<decltype(&name)>(#name);                   \
        if (!real) return missing;                                               \
        return real args;                                                        \
    }

FORWARD(CURLcode, curl_global_init, (long flags), (flags), CURLE_FAILED_INIT)
FORWARD(CURL*, curl_easy_init, (void), (), nullptr)
FORWARD(CURLcode, curl_easy_perform, (CURL * curl), (curl), CURLE_FAILED_INIT)
FORWARD(void, curl_easy_cleanup, (CURL * curl), (curl), void())
FORWARD(const char*, curl_easy_strerror, (CURLcode code), (code), "libcurl fehlt")
FORWARD(void, curl_free, (void* p), (p), void())
FORWARD(curl_slist*, curl_slist_append, (curl_slist * list, const char* text), (list, text), nullptr)
FORWARD(void, curl_slist_free_all, (curl_slist * list), (list), void())
FORWARD(CURLU*, curl_url, (void), (), nullptr)
FORWARD(void, curl_url_cleanup, (CURLU * url), (url), void())
FORWARD(CURLUcode, curl_url_get, (CURLU* url, CURLUPart what, char** part, unsigned int flags),
        (url, what, part, flags), CURLUE_OUT_OF_MEMORY)
FORWARD(CURLUcode, curl_url_set, (CURLU * url, CURLUPart what, const char* part, unsigned int flags),
        (url, what, part, flags), CURLUE_OUT_OF_MEMORY)

extern "C" CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...) {
    static const auto real = find<decltype(&curl_easy_setopt)>("curl_easy_setopt");
    if (!real) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    void* value = va_arg(args, void*);
    va_end(args);
    return real(curl, option, value);
}

extern "C" CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...) {
    static const auto real = find<decltype(&curl_easy_getinfo)>("curl_easy_getinfo");
    if (!real) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    void* answer = va_arg(args, void*);
    va_end(args);
    return real(curl, info, answer);
}
