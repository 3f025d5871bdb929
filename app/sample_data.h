// The sample records of a new catalogue: records of the four record tables
// whose application number (Type1Num .. Type4Num) is below 1000. They go
// once, at the first start (app/splash_form.h, OpenDBs); their picture
// files stay on disk.
#pragma once

namespace app {

class TDatamodule1;

// Deletes the sample records through a live query per table.
void RemoveSampleData(TDatamodule1& module);

}  // namespace app
