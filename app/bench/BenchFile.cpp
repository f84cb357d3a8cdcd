// The bench file.
#include "app/bench/BenchFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace rv {

namespace {

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    // A word starting with '#' begins a comment to the end of the line.
    for (std::string w; in >> w && w.front() != '#';) words.push_back(w);
    return words;
}

bool ParseLine(const std::vector<std::string>& words, SBenchMeterOptions& meter, std::string& error)
{
    meter.Port = words.front();
    if (meter.Port.rfind("-", 0) == 0) {
        error = "строка начинается не с порта, а с \"" + meter.Port + "\"";
        return false;
    }
    for (size_t i = 1; i < words.size(); ++i) {
        std::string name = words[i];
        std::string value;
        bool valueGiven = false;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            valueGiven = true;
        }
        const bool takesValue = name == "--sensor" || name == "--answer";
        if (!takesValue && name != "--reverse" && name != "--extra-info") {
            error = "неизвестный параметр \"" + words[i] + "\"";
            return false;
        }
        if (!takesValue) {
            if (valueGiven) {
                error = "параметр " + name + " не принимает значения";
                return false;
            }
            (name == "--reverse" ? meter.Reverse : meter.ExtraInfo) = true;
            continue;
        }
        if (!valueGiven) {
            if (i + 1 >= words.size()) {
                error = "параметр " + name + " требует значения";
                return false;
            }
            value = words[++i];
        }
        if (name == "--sensor") {
            if (value.size() != 1 || value[0] < '0' || value[0] > '5') {
                error = "позиция датчика \"" + value + "\" должна быть числом от 0 до 5";
                return false;
            }
            meter.Sensor = value[0] - '0';
        } else {
            if (value != "yes" && value != "no") {
                error = "ответ \"" + value + "\" должен быть yes или no";
                return false;
            }
            meter.AnswerYes = value == "yes";
        }
    }
    return true;
}

}  // namespace

bool ParseBenchText(const std::string& text, const std::string& source, const SBenchMeterOptions& common,
                    std::vector<SBenchMeterOptions>& meters, std::string& error)
{
    meters.clear();
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        SBenchMeterOptions meter = common;
        std::string why;
        if (!ParseLine(words, meter, why)) {
            error = "Файл стенда " + source + ", строка " + std::to_string(number) + ": " + why + ".";
            meters.clear();
            return false;
        }
        if (meters.size() >= kMaxBenchMeters) {
            error = "Файл стенда " + source + ": больше " + std::to_string(kMaxBenchMeters) + " приборов.";
            meters.clear();
            return false;
        }
        meters.push_back(meter);
    }
    if (meters.empty()) {
        error = "Файл стенда " + source + " не называет ни одного порта.";
        return false;
    }
    return true;
}

bool ReadBenchFile(const std::string& path, const SBenchMeterOptions& common, std::vector<SBenchMeterOptions>& meters,
                   std::string& error)
{
    meters.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        error = "Файл стенда " + path + " не открыть: " + std::strerror(err) + ".";
        return false;
    }
    std::string text(kMaxBenchFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxBenchFileBytes) {
        error = "Файл стенда " + path + " больше " + std::to_string(kMaxBenchFileBytes / 1024) + " КиБ: это не файл стенда.";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = "Файл стенда " + path + " не текстовый.";
        return false;
    }
    return ParseBenchText(text, path, common, meters, error);
}

bool DistinctPorts(const std::vector<SBenchMeterOptions>& meters, std::string& error)
{
    for (size_t i = 0; i < meters.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (meters[i].Port == meters[j].Port) {
                error = "Порт " + meters[i].Port + " указан дважды: к одному порту подключается один прибор.";
                return false;
            }
    return true;
}

}  // namespace rv
