#include <gtest/gtest.h>
#include "store/heliodex_store.hpp"
TEST(Smoke, EmptyStore) { EXPECT_EQ(heliodex::HeliodexStore::make({}).len(), 0u); }
