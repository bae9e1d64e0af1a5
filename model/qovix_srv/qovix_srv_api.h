#pragma once

// The model library's classes keep default visibility in every module.
#define QOVIX_SRV_API __attribute__((visibility("default")))
