// The second run: the columns as the operator left them, through a reload of the list too.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var grid = screen.control("dbgPadrao");
function columns() { return grid.columns.map(function (c) { return c.field + ":" + c.width; }).join(","); }
var left = "VRATUAREC:70,DTATUAVENREC:67,NMRAZSOCCLIE:180,NRPARCELAREC:64,DOCUMENTO:63,IDMARCADO:20";
assert(columns() === left, "remembered: " + columns());
screen.control("medCdEmpresa").type("01");
grid.focus();
assert(screen.dataset("cdsContRec").recordCount > 0 && columns() === left, "after loading: " + columns());
