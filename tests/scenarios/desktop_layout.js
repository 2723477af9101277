// The first of two runs on one data folder: the operator widens and moves columns of the
// account list; desktop_layout_again.js finds them so.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();
var grid = screen.component("dbgPadrao");
assert(grid.titlesWhole, "a first opening shows every title whole");
assert(grid.resizeColumn("NMRAZSOCCLIE", 180) && grid.moveColumn("VRATUAREC", 0), "known columns");
var columns = screen.control("dbgPadrao").columns.map(function (c) { return c.field + ":" + c.width; });
assert(columns.join(",") === "VRATUAREC:70,DTATUAVENREC:67,NMRAZSOCCLIE:180,NRPARCELAREC:64,DOCUMENTO:63,IDMARCADO:20",
       columns.join(","));
screen.close();
