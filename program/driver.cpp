#include "program/driver.hpp"

#include <cstdint>
#include <initializer_list>

#include "ephemeris/constants.hpp"
#include "ephemeris/rows.hpp"
#include "recordio/list_io.hpp"
#include "recordio/unit_table.hpp"
#include "runtime/startup.hpp"

namespace {

constexpr int32_t kInputUnit = 1;
constexpr int32_t kOutputUnit = 2;

// One free-format read on the input unit, one transfer per item.
void read_doubles(std::initializer_list<double*> items) {
    const cilist read{0, kInputUnit, 0, nullptr, 0};
    s_rsle(&read);
    for (double* item : items) {
        do_lio(kTypeDouble, 1, item, sizeof(double));
    }
    e_rsle();
}

void read_integer(int32_t* item) {
    const cilist read{0, kInputUnit, 0, nullptr, 0};
    s_rsle(&read);
    do_lio(kTypeInteger, 1, item, sizeof(int32_t));
    e_rsle();
}

// One free-format write of one ephemeris row on the output unit.
void write_row(std::initializer_list<double> values, ItemTextForm form) {
    const cilist write{0, kOutputUnit, 0, nullptr, 0};
    s_wsle(&write, form);
    for (double value : values) {
        do_lio(kTypeDouble, 1, &value, sizeof(double));
    }
    e_wsle();
}

void close_unit(int32_t unit) {
    const cllist close{0, unit, nullptr};
    f_clos(&close);
}

// The rows of a batch of days in the chosen form: the literal one takes them one at a time.
void compute_rows(const RunGeometry& run, const double* tiempos, int count, Forms forms, DailyRow* rows) {
    if (forms == Forms::literal) {
        for (int k = 0; k < count; ++k) {
            rows[k] = daily_row(run, tiempos[k]);
        }
    } else {
        daily_rows(run, tiempos, count, rows);
    }
}

}  // namespace

void ephemeris_run(Forms forms) {
    const auto [gauss, pi, dospi, obli] = model_constants();
    const ItemTextForm item_text = (forms == Forms::literal) ? ItemTextForm::literal : ItemTextForm::fast;

    const olist input{0, kInputUnit, "DATOS.DAT", 9, "OLD", nullptr, nullptr, 0, nullptr};
    f_open(&input);
    // A value that the file leaves out (a null value, a slash) stays zero.
    double a2 = 0, e2 = 0, ync2 = 0, w2 = 0, od2 = 0, ame2 = 0, t2 = 0, asam2 = 0;
    double a1 = 0, e1 = 0, ync1 = 0, w1 = 0, od1 = 0, ame1 = 0, t1 = 0, asam1 = 0;
    double tini = 0;
    int32_t nc = 0;
    read_doubles({&a2, &e2, &ync2, &w2, &od2, &ame2, &t2, &asam2});
    read_doubles({&a1, &e1, &ync1, &w1, &od1, &ame1, &t1, &asam1});
    read_doubles({&tini});
    read_integer(&nc);
    close_unit(kInputUnit);

    ync2 = radians(ync2, pi);
    ync1 = radians(ync1, pi);
    w1 = radians(w1, pi);
    od1 = radians(od1, pi);
    ame1 = radians(ame1, pi);
    w2 = radians(w2, pi);
    od2 = radians(od2, pi);
    ame2 = radians(ame2, pi);

    const olist output{0, kOutputUnit, "ZEPO.DAT", 8, "UNKNOWN", nullptr, nullptr, 0, nullptr};
    f_open(&output);

    const double v2n = mean_motion(gauss, a2, asam2);
    const double v1n = mean_motion(gauss, a1, asam1);
    const double p2 = semi_latus_rectum(e2, a2);
    const double p1 = semi_latus_rectum(e1, a1);
    const Orbit target = make_orbit(a2, e2, ync2, w2, od2, ame2, t2, v2n, p2);
    const Orbit observer = make_orbit(a1, e1, ync1, w1, od1, ame1, t1, v1n, p1);
    const RunGeometry run = run_geometry(target, observer, obli, pi, dospi);

    // The time is accumulated by rounded additions, never recomputed from the row number.
    // Rows are computed a batch at a time but written one by one, each flushed before the next: a failure
    // or a signal part way through a batch drops only rows that were never handed to the file.
    double tiempo = tini - 1.0;
    for (int32_t pass = 0; pass < nc;) {
        const int count = (nc - pass < kBatchRows) ? static_cast<int>(nc - pass) : kBatchRows;
        double tiempos[kBatchRows];
        for (int k = 0; k < count; ++k) {
            tiempo = tiempo + 1.0;
            tiempos[k] = tiempo;
        }
        DailyRow rows[kBatchRows];
        compute_rows(run, tiempos, count, forms, rows);
        for (int k = 0; k < count; ++k) {
            const DailyRow& row = rows[k];
            write_row({row.tiempo, row.har, row.gdec, row.r2, row.delta, row.elong, row.afase, row.fase}, item_text);
        }
        pass += count;
    }

    close_unit(kOutputUnit);
    s_stop("", 0);
}
