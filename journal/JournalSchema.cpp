// The tables of the journal. Version 1 kept the run, the meter, the sensor, the points and the protocol;
// version 2 added the conditions of the verification and what the registry needs (kind of verification, the
// meter's owner, model, modification, year of manufacture) with indexes for the technician's and the verdict's
// filters.
#include "journal/JournalSchema.h"

namespace rv::journal {

std::vector<std::string> SchemaVersion1(EEngine engine)
{
    // The one difference between the engines: how the protocol number is given out.
    const std::string id = engine == EEngine::SQLite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
    return {
        "CREATE TABLE journal_schema (version INTEGER NOT NULL)",
        "INSERT INTO journal_schema (version) VALUES (1)",
        "CREATE TABLE verification ("
        " id " + id + ","
        " run_id VARCHAR(64) NOT NULL UNIQUE,"
        " state VARCHAR(16) NOT NULL,"
        " started_utc BIGINT NOT NULL,"
        " started_offset INTEGER NOT NULL,"
        " ended_utc BIGINT,"
        " ended_offset INTEGER,"
        " updated_utc BIGINT NOT NULL,"
        " writer_host TEXT NOT NULL,"
        " writer_process TEXT NOT NULL,"
        " technician TEXT NOT NULL DEFAULT '',"
        " workstation TEXT NOT NULL DEFAULT '',"
        " program_version TEXT NOT NULL DEFAULT '',"
        " port TEXT NOT NULL DEFAULT '',"
        " meter_serial TEXT NOT NULL DEFAULT '',"
        " module_number INTEGER NOT NULL DEFAULT 0,"
        " module_execution INTEGER NOT NULL DEFAULT 0,"
        " meter_software TEXT NOT NULL DEFAULT '',"
        " sensor_position INTEGER NOT NULL DEFAULT 0,"
        " sensor_type TEXT NOT NULL DEFAULT '',"
        " sensor_designation TEXT NOT NULL DEFAULT '',"
        " sensor_serial TEXT NOT NULL DEFAULT '',"
        " sensor_diameter DOUBLE PRECISION NOT NULL DEFAULT 0,"
        " qvmax TEXT NOT NULL DEFAULT '',"
        " kfs TEXT NOT NULL DEFAULT '',"
        " reverse_series INTEGER NOT NULL DEFAULT 0,"
        " extra_info INTEGER NOT NULL DEFAULT 0,"
        " outcome TEXT NOT NULL DEFAULT '',"
        " protocol TEXT NOT NULL DEFAULT '',"
        " repetitions BIGINT NOT NULL DEFAULT 0,"
        " timeouts BIGINT NOT NULL DEFAULT 0,"
        " checksum_failures BIGINT NOT NULL DEFAULT 0)",
        // Newest first, all records or one meter's: both lists read an index in order and stop at the page.
        "CREATE INDEX verification_started ON verification (started_utc, id)",
        "CREATE INDEX verification_serial ON verification (meter_serial, started_utc, id)",
        "CREATE TABLE verification_point ("
        " record_id BIGINT NOT NULL REFERENCES verification (id) ON DELETE CASCADE,"
        " seq INTEGER NOT NULL,"
        " direction VARCHAR(8) NOT NULL,"
        " nominal TEXT NOT NULL DEFAULT '',"
        " set_flow TEXT NOT NULL DEFAULT '',"
        " measured TEXT NOT NULL DEFAULT '',"
        " relative_error TEXT NOT NULL DEFAULT '',"
        " allowed_error TEXT NOT NULL DEFAULT '',"
        " not_checked TEXT NOT NULL DEFAULT '',"
        " verdict VARCHAR(16) NOT NULL,"
        " PRIMARY KEY (record_id, seq))",
    };
}

std::vector<std::string> MigrationTo(int to, EEngine)
{
    if (to == 2) {
        return {
            "ALTER TABLE verification ADD COLUMN air_temperature DOUBLE PRECISION",
            "ALTER TABLE verification ADD COLUMN humidity DOUBLE PRECISION",
            "ALTER TABLE verification ADD COLUMN pressure DOUBLE PRECISION",
            "ALTER TABLE verification ADD COLUMN conditions_other TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE verification ADD COLUMN verification_type INTEGER",
            "ALTER TABLE verification ADD COLUMN meter_owner TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE verification ADD COLUMN meter_model TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE verification ADD COLUMN meter_modification TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE verification ADD COLUMN manufacture_year INTEGER",
            "CREATE INDEX verification_technician ON verification (technician, started_utc, id)",
            "CREATE INDEX verification_state ON verification (state, started_utc, id)",
            "UPDATE journal_schema SET version = 2",
        };
    }
    return {};
}

}  // namespace rv::journal
