// The dataset object: state, fields, values and texts, moving the current row with its events,
// and every row at once.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var accounts = screen.dataset("cdsContRec");
assert(accounts.active === false && accounts.state === "inactive", "closed in the company panel: " + accounts.state);
assert(accounts.recordCount === 0 && accounts.recNo === 0 && accounts.isEmpty, "no rows while closed");

screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();
assert(accounts.active && accounts.state === "browse", accounts.state);
assert(accounts.recordCount > 3 && !accounts.isEmpty, "rows: " + accounts.recordCount);
assert(accounts.recNo === 1, "first row: " + accounts.recNo);

var fields = accounts.fields;
assert(fields.length === 29, "29 fields: " + fields.length);
var byName = {};
fields.forEach(function (f) { byName[f.name] = f; });
assert(JSON.stringify(byName.IDMARCADO) === JSON.stringify(
           {name: "IDMARCADO", type: "fixedstring", size: 1, label: "4", visible: false, calculated: false}),
       JSON.stringify(byName.IDMARCADO));
assert(byName.DOCUMENTO.calculated && byName.DOCUMENTO.label === "Doc / Série", JSON.stringify(byName.DOCUMENTO));
assert(byName.VRATUAREC.type === "float" && byName.VRATUAREC.label === "Valor", JSON.stringify(byName.VRATUAREC));

// Values keep their kind; dates read "YYYY-MM-DD"; texts follow the pt-BR display formats.
var due = accounts.value("DTATUAVENREC");
assert(/^\d{4}-\d{2}-\d{2}$/.test(due), "date value: " + due);
var parts = due.split("-");
assert(accounts.text("DTATUAVENREC") === parts[2] + "/" + parts[1] + "/" + parts[0], "short date text");
assert(typeof accounts.value("VRATUAREC") === "number", "float value");
assert(/^\d{1,3}(\.\d{3})*,\d\d$/.test(accounts.displayText("VRATUAREC")), "display format: " + accounts.displayText("VRATUAREC"));
assert(accounts.value("IDMARCADO") === "N" && accounts.text("IDMARCADO") === "N", "mark");
assert(accounts.text("DOCUMENTO") !== "", "calculated field: " + accounts.text("DOCUMENTO"));
assert(accounts.value("CDMOTIPROR") === null, "a null value reads null");

// Moving runs the after-scroll event: each move asks for that account's adjustments.
shell.clearServerCalls();
accounts.next();
assert(accounts.recNo === 2 && screen.control("dbgPadrao").currentRow === 1, "next moves the grid too");
accounts.moveTo(4);
assert(accounts.recNo === 4, "moveTo");
accounts.first();
assert(accounts.recNo === 1, "first");
var adjustments = shell.serverCalls.filter(function (c) { return c.method === "GetAjusCont"; });
assert(adjustments.length === 3, "one adjustment query per move: " + adjustments.length);

var rows = accounts.rows();
assert(rows.length === accounts.recordCount, "rows() gives every row");
assert(accounts.recNo === 1, "without moving the current row");
assert(rows[3].NMRAZSOCCLIE === screen.control("dbgPadrao").cellText(3, "NMRAZSOCCLIE"), "row texts: " + JSON.stringify(rows[3]));
assert(rows[3].DOCUMENTO !== "" && rows[3].CDEMPRESA === "01", "calculated and data fields: " + JSON.stringify(rows[3]));

var errors = [];
try { accounts.value("NADA"); errors.push("unknown field read"); } catch (e) { }
try { accounts.moveTo(accounts.recordCount + 1); errors.push("moveTo past the end"); } catch (e) { }
assert(errors.length === 0, errors.join("; "));

// A query is a dataset too.
var companies = screen.dataset("qryEmpresa");
assert(companies.active && companies.recordCount === 1 && companies.value("NMEMPRESA") === "Comercial Aurora Distribuidora Ltda",
       "the company query holds the validated company");
