#pragma once

#include <cstdint>

// The repository's `long`: 32 bits wide on every platform, like its wire form.
using VornLong = std::int32_t;

// A persistent object of a repository, numbered from 1 in creation order; 0
// names no object.
using ObjectId = std::uint32_t;

// A model class, by its class number.
using ClassId = std::uint32_t;

// A feature (attribute, reference, collection, value list or hidden slot) of
// the model, numbered across all classes.
using FeatureId = std::uint32_t;

// A data-value class, numbered in catalogue order from 1.
using ValueClassId = std::int32_t;
