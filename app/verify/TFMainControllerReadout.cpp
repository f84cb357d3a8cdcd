// The configuration readout: the sensor choice, the run parameters of the chosen sensor and the protocol header.
#include "app/verify/TFMainController.h"

#include "app/verify/FlowTables.h"
#include "app/verify/TVerificationRun.h"
#include "app/window/Guarded.h"
#include "app/window/IPrompter.h"
#include "app/window/ProtocolFormat.h"
#include "core/TTimer.h"

namespace rv {

void TFMainController::LastDataTimer(TObject*)
{
    Guarded(prompter_, [&] {
        LastData->Stop();
        f_.KfsMismatch.clear();
        const TConfigImage& config = connection_.Chain().ConfigImage();
        const int paths = PathsPerSensorOf(config);
        // The stride of the choices and the channels of the run follow from it: anything else has no meaning.
        if (paths != 1 && paths != 3) {
            page_.Stop("Недопустимое число путей на датчик в конфигурации прибора: " + std::to_string(paths) +
                       " (допустимо 1 или 3).");
            return;
        }
        f_.PathsPerSensor = paths;

        const std::vector<SSensorChoice> choices = SensorChoices(connection_.Chain().SensorImage(), paths);
        if (const std::optional<int> chosen = prompter_.ChooseSensor(sdTest, choices)) {
            for (const SSensorChoice& c : choices)
                if (c.Position == *chosen) f_.SelectedSensor = c.Position;
        }

        const int s = f_.SelectedSensor;
        const SSensorRecord sensor = SSensorRecord::Decode(connection_.Chain().SensorImage()[static_cast<size_t>(s)]);
        const int m = sensor.Module;
        const std::optional<uint16_t> execution = ExecutionOf(config, m);
        const std::optional<uint8_t> tableSet = TableSetOf(config, m);
        if (m > kMaxModuleNumber || !execution || !tableSet) {
            page_.Stop("Номер модуля " + std::to_string(m) + " датчика вне записи конфигурации прибора (допустимо 0.." +
                       std::to_string(kMaxModuleNumber) + ").");
            return;
        }
        // The table set picks the required flows and the allowed errors; another one gives a run without points.
        if (*tableSet >= kAccuracyClassNames.size()) {
            page_.Stop("Неизвестный набор таблиц расходов модуля №" + std::to_string(m) +
                       " в конфигурации прибора: " + std::to_string(*tableSet) + " (допустимо 0.." +
                       std::to_string(kAccuracyClassNames.size() - 1) + "). Поверка невозможна.");
            return;
        }
        if (const std::string fault = SensorRecordFault(sensor, s); !fault.empty()) {
            page_.Stop(fault + " Поверка невозможна.");
            return;
        }
        f_.ModuleNumber = m;
        f_.TableSet = *tableSet;
        if (paths == 1)
            f_.ChannelMask = static_cast<uint8_t>(1u << s);
        else
            f_.ChannelMask = s == 0 ? 0x07 : s == 3 ? 0x38 : 0x00;
        f_.KfsValue = sensor.KfsValue;

        page_.ClearMemo();
        BuildHeader(sensor);
        // The meter holds both forms; the run takes the float, the technician is told.
        if (!f_.KfsMismatch.empty()) page_.SetStatus(f_.KfsMismatch);
        w_.ReadoutDone = true;
        run_->PreviewRequiredFlows();
        run_->CheckEmulator();
    });
}

void TFMainController::BuildHeader(const SSensorRecord& sensor)
{
    const uint16_t execution = ExecutionOf(connection_.Chain().ConfigImage(), f_.ModuleNumber).value_or(0);
    page_.AddLine("Серийный номер счетчика №" + std::to_string(f_.MeterSerial));
    page_.AddLine("Модуль №" + std::to_string(f_.ModuleNumber) + " исполнение " + (execution < 10 ? "0" : "") +
                  std::to_string(execution));
    page_.AddLine(SensorDesignation(sensor, f_.PathsPerSensor) + " серийный №" + sensor.Serial);
    page_.AddLine("Максимальный расход счетчика QVmax=" + sensor.QVmax + "м3/ч");
    if (page_.View().ChBDopInfoChecked) page_.AddLine("Задержка одного такта dT=5,5556E-8c");
    AddKfsLines(sensor);
}

void TFMainController::AddKfsLines(const SSensorRecord& sensor)
{
    const auto check = [this](const SSensorRecord& record, int position) {
        if (const std::string mismatch = KfsTextMismatch(record, position); !mismatch.empty())
            f_.KfsMismatch += (f_.KfsMismatch.empty() ? "" : " ") + mismatch;
    };
    if (static_cast<double>(sensor.Diameter) < kThreePathDiameter) {
        check(sensor, f_.SelectedSensor);
        page_.AddLine("КFS датчика расхода " + sensor.KfsText);
        return;
    }
    page_.AddLine("КFS датчика расхода ");
    for (int j = 0; j < 3; ++j) {
        const int position = f_.SelectedSensor + j;
        const std::string head = "КFS" + std::to_string(j + 1) + " = ";
        // A sensor near the end of the table has no records after it to hold its other coefficients.
        if (position >= flash::kSensorCount) {
            page_.AddLine(head + "нет записи датчика (позиция " + std::to_string(position) + " вне 0..5)");
            continue;
        }
        const SSensorRecord record =
            SSensorRecord::Decode(connection_.Chain().SensorImage()[static_cast<size_t>(position)]);
        check(record, position);
        page_.AddLine(head + record.KfsText);
    }
}

}  // namespace rv
