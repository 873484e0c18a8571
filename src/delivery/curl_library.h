#pragma once

#include <curl/curl.h>

#include <QString>

/**
 * The few libcurl functions the FTP client calls. libcurl and the TLS, Kerberos and LDAP
 * libraries behind it are loaded at the first upload, not when the program starts: a till
 * that has just booted listens for its host without waiting for them.
 */
struct CurlLibrary
{
    CURLcode (*global_init)(long flags) = nullptr;
    CURL *(*easy_init)() = nullptr;
    CURLcode (*easy_setopt)(CURL *handle, CURLoption option, ...) = nullptr;
    CURLcode (*easy_perform)(CURL *handle) = nullptr;
    void (*easy_cleanup)(CURL *handle) = nullptr;
    const char *(*easy_strerror)(CURLcode code) = nullptr;
};

/**
 * libcurl, loaded and globally set up once, on the first call from any thread. Null, with
 * @p error telling why, when the library cannot be loaded.
 */
const CurlLibrary *curlLibrary(QString *error = nullptr);
