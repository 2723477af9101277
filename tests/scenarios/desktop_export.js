// What a grid and CTB10200 hand to a spreadsheet or to paper: a grid's CSV is what the grid
// shows, "Copiar" the current row, and CTB10200's PDF names the company and the totals.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
function csvCell(text) {
    if (/^[=+\-@]/.test(text)) text = "'" + text;
    return /[;"\n\r]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}

var raw = screen.component("dbgPadrao");
assert(raw.exportCsv("contas.csv"), "written");
var fields = grid.columns.map(function (c) { return c.field; });
log("CSV|contas.csv|" + grid.columns.map(function (c) { return c.field === "IDMARCADO" ? "✔" : c.title; }).join(";"));
for (var r = 0; r < grid.rowCount; ++r)
    log("CSV|contas.csv|" + fields.map(function (f) {
        var text = grid.cellText(r, f);
        return f === "VRATUAREC" ? text : csvCell(text);
    }).join(";"));
assert(/\d\.\d{3},\d\d|^\d{1,3},\d\d$/.test(grid.cellText(0, "VRATUAREC")), "pt-BR money: " + grid.cellText(0, "VRATUAREC"));

grid.setCurrentRow(2);
assert(raw.selectedRowsText() === fields.map(function (f) { return grid.cellText(2, f); }).join("\t"),
       "Copiar: " + raw.selectedRowsText());

// A recalculation with errors opens CTB10200; its printout as PDF and CSV.
var rows = accounts.rows();
for (var i = 0; i < rows.length; ++i)
    if (rows[i].CDTPCTRECEB === "PROM") { grid.setCurrentRow(i); break; }
grid.key("Space");
screen.control("sbtConfirmar").click();
var ctb = shell.form("frmCTB10200");
assert(ctb !== null && ctb.dataset("cdsErrosTemp").recordCount > 0, "CTB10200 with errors");
var report = ctb.component("rptCTB10200");
assert(report.savePdf("ctb10200.pdf") && report.saveCsv("ctb10200.csv"), "PDF and CSV written");
log("PDF|ctb10200.pdf|" + ctb.control("edtNmEmpresa").text);
log("PDF|ctb10200.pdf|" + ctb.control("lblTotDebito").text);
log("PDF|ctb10200.pdf|" + ctb.control("lblTotCredito").text);
var errors = ctb.control("dbgErros");
log("PDF|ctb10200.pdf|" + errors.cellText(0, "DSERROCTB"));
assert(ctb.component("dbgErros").exportCsv("erros.csv"), "the errors' grid");
log("CSV|erros.csv|" + errors.columns.map(function (c) { return c.title; }).join(";"));
for (var e = 0; e < errors.rowCount; ++e)
    log("CSV|erros.csv|" + errors.columns.map(function (c) { return csvCell(errors.cellText(e, c.field)); }).join(";"));
assert(!report.savePdf("/nonexistent-folder/x.pdf"), "an unwritable path fails");
var last = shell.messages[shell.messages.length - 1];
assert(last.type === "error" && last.text.indexOf("/nonexistent-folder/x.pdf") >= 0, JSON.stringify(last));
