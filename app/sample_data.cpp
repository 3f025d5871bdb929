#include "app/sample_data.h"

#include <string>

#include "app/data_module.h"

namespace app {

void RemoveSampleData(TDatamodule1& module) {
  module.StandardCountQuery->Close();
  module.StandardUpdateQuery->Close();
  for (dataset::TTolmidQuery* q : {module.Type1ReportQuery, module.Type2ReportQuery, module.Type3ReportQuery,
                                   module.Type4ReportQuery})
    q->Close();
  dataset::TTolmidQuery& q = *module.StandardUpdateQuery;
  for (int kind = 1; kind <= 4; ++kind) {
    const std::string n = std::to_string(kind);
    q.Close();
    q.SetSQLText("select * from type" + n + " where type" + n + "num < 1000");
    q.Open();
    while (!q.Eof()) q.Delete();
  }
  // A prepared statement keeps its source table open after Close; left
  // prepared it would keep type4.dat from a repair or an exclusive open.
  q.Close();
  q.UnPrepare();
}

}  // namespace app
