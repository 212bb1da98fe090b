// The connection/recordset layer over SQLite, on real database files.

#include "store/ado_database.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

using fd::test::TempDir;

std::string Conn(const std::string& path) {
    return "Provider=SQLite;Data Source=" + path;
}

class AdoDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_conn = Conn(m_dir.Path("t.mdb"));
        ASSERT_TRUE(m_db.Create(m_conn)) << m_db.GetLastErrorString();
        ASSERT_TRUE(m_db.Open(m_conn)) << m_db.GetLastErrorString();
        ASSERT_TRUE(m_db.Execute("CREATE TABLE t(ID Counter,mac char(18),n long,d double)"))
            << m_db.GetLastErrorString();
    }

    TempDir m_dir;
    std::string m_conn;
    CADODatabase m_db;
};

TEST(JetTranslationTest, MapsTypesAndSplitsMultiColumnAlter) {
    auto create = fd::TranslateJetStatement(
        "CREATE TABLE ap_other_info(ID Counter,mac char(18),signal long,ip_num double)");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0],
              "CREATE TABLE ap_other_info(ID INTEGER PRIMARY KEY AUTOINCREMENT,"
              "mac TEXT COLLATE NOCASE,signal INTEGER,ip_num REAL)");

    // Blanks after the commas, as one of the schema statements has them.
    auto alter = fd::TranslateJetStatement(
        "ALTER TABLE ap_info ADD bridge_work_mode long, bridge_mac char(18), bridge_channel long");
    ASSERT_EQ(alter.size(), 3u);
    EXPECT_EQ(alter[0], "ALTER TABLE ap_info ADD COLUMN bridge_work_mode INTEGER");
    EXPECT_EQ(alter[1], "ALTER TABLE ap_info ADD COLUMN bridge_mac TEXT COLLATE NOCASE");
    EXPECT_EQ(alter[2], "ALTER TABLE ap_info ADD COLUMN bridge_channel INTEGER");

    // Data statements are left alone, even when they mention type names.
    const std::string select = "select * from ap_info where ap_name like 'long char(5)'";
    EXPECT_EQ(fd::TranslateJetStatement(select), std::vector<std::string>{select});
}

TEST(JetTranslationTest, DataSourceIsFoundInTheConnectionString) {
    EXPECT_EQ(fd::DataSourceOf("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a/b/data.mdb"),
              "/a/b/data.mdb");
    EXPECT_EQ(fd::DataSourceOf("data source = /x.db ; Mode=Share"), "/x.db");
    EXPECT_EQ(fd::DataSourceOf("Provider=SQLite"), "");
}

TEST(AdoConnectionTest, CreateOpenAndTheirFailures) {
    TempDir dir;
    const std::string conn = Conn(dir.Path("new.mdb"));
    CADODatabase db;
    EXPECT_FALSE(db.IsOpen());
    EXPECT_FALSE(db.Open(conn)) << "opening does not create a missing file";
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.GetLastErrorString().rfind("Connection String = " + conn +
                                                "\nCADODataBase Error\n\tCode = 0000000e\n"
                                                "\tCode meaning = unable to open database file\n"
                                                "\tSource = SQLite\n\tDescription = ",
                                            0),
              0u)
        << db.GetLastErrorString();

    ASSERT_TRUE(db.Create(conn));
    EXPECT_TRUE(std::filesystem::exists(dir.Path("new.mdb")));
    EXPECT_FALSE(db.Create(conn)) << "an existing file is not overwritten";
    ASSERT_TRUE(db.Open(conn));
    EXPECT_TRUE(db.IsOpen());
    db.Close();
    EXPECT_FALSE(db.IsOpen());

    // A file that is not a database does not open.
    const std::string junk = dir.Write("junk.mdb", std::string(4096, 'x'));
    EXPECT_FALSE(db.Open(Conn(junk)));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_NE(db.GetErrorDescription(), "");

    // Nothing can be executed on a closed connection.
    EXPECT_FALSE(db.Execute("select 1"));
    CADORecordset rs(&db);
    EXPECT_FALSE(rs.Open("select 1"));
}

TEST_F(AdoDatabaseTest, MultiColumnAlterAddsAllColumnsOrNone) {
    ASSERT_TRUE(m_db.Execute("ALTER TABLE t ADD a long,b char(33),c long"));
    CADORecordset rs(&m_db);
    EXPECT_TRUE(rs.Open("select a,b,c from t"));

    // The second column already exists: the first must not stay behind either.
    EXPECT_FALSE(m_db.Execute("ALTER TABLE t ADD e long,a long"));
    EXPECT_NE(m_db.GetLastErrorString().find("duplicate column name: a"), std::string::npos)
        << m_db.GetLastErrorString();
    EXPECT_FALSE(rs.Open("select e from t"));
}

TEST_F(AdoDatabaseTest, ExecuteBindsParametersAndCountsRows) {
    ASSERT_TRUE(m_db.Execute("insert into t(mac,n) values(?,?)", {std::string("a'b"), int64_t{1}}));
    ASSERT_TRUE(m_db.Execute("insert into t(mac,n) values(?,?)", {std::string("c"), int64_t{2}}));
    EXPECT_EQ(m_db.GetRecordsAffected(), 1);
    ASSERT_TRUE(m_db.Execute("update t set n=7"));
    EXPECT_EQ(m_db.GetRecordsAffected(), 2);
    ASSERT_TRUE(m_db.Execute("delete from t where mac=?", {std::string("a'b")}));
    EXPECT_EQ(m_db.GetRecordsAffected(), 1);

    // A second statement riding along is refused, and nothing of it runs.
    EXPECT_FALSE(m_db.Execute("delete from t where mac='zz'; drop table t"));
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("select * from t"));
    EXPECT_EQ(rs.GetRecordCount(), 1);
}

TEST_F(AdoDatabaseTest, TextComparesWithoutRegardToCase) {
    ASSERT_TRUE(m_db.Execute("insert into t(mac) values('aa:bb:cc:dd:ee:ff')"));
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("select * from t where mac=?", {std::string("AA:BB:CC:DD:EE:FF")}));
    EXPECT_EQ(rs.GetRecordCount(), 1);
}

TEST_F(AdoDatabaseTest, NullFieldsReadAsZeroAndEmptyText) {
    ASSERT_TRUE(m_db.Execute("insert into t(mac) values(null)"));
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("   select * from t"));
    EXPECT_EQ(rs.GetQuery(), "select * from t") << "leading blanks are trimmed";
    std::string text = "stale";
    int32_t n = 99;
    double d = 1.5;
    EXPECT_TRUE(rs.GetFieldValue("mac", text));
    EXPECT_TRUE(rs.GetFieldValue("N", n)) << "column names match without regard to case";
    EXPECT_TRUE(rs.GetFieldValue("d", d));
    EXPECT_EQ(text, "");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(d, 0.0);

    // Numbers read as text give their decimal form.
    ASSERT_TRUE(m_db.Execute("update t set n=-42, d=2.5"));
    ASSERT_TRUE(rs.Open("select * from t"));
    EXPECT_TRUE(rs.GetFieldValue("n", text));
    EXPECT_EQ(text, "-42");
    EXPECT_TRUE(rs.GetFieldValue("d", text));
    EXPECT_EQ(text, "2.5");

    EXPECT_FALSE(rs.GetFieldValue("nosuch", n));
    EXPECT_NE(rs.GetLastErrorString().find("Item cannot be found"), std::string::npos);
}

TEST_F(AdoDatabaseTest, SyntaxErrorFailsOpenAndRemembersTheQuery) {
    CADORecordset rs(&m_db);
    EXPECT_FALSE(rs.Open("select * form t"));
    EXPECT_FALSE(rs.IsOpen());
    const std::string& error = rs.GetLastErrorString();
    EXPECT_EQ(error.rfind("Query = select * form t\nCADORecordset Error\n\tCode = 00000001\n"
                          "\tCode meaning = SQL logic error\n\tSource = SQLite\n\tDescription = ",
                          0),
              0u)
        << error;
    EXPECT_EQ(rs.GetLastError(), 1u);
    EXPECT_EQ(error.back(), '\n');
}

TEST_F(AdoDatabaseTest, EmptyResultCountsZeroAtEndOfFile) {
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("select * from t"));
    EXPECT_EQ(rs.GetRecordCount(), 0);
    EXPECT_TRUE(rs.IsEof());
    int32_t n = 5;
    EXPECT_FALSE(rs.GetFieldValue("n", n)) << "no current row";
    // Update with neither Edit nor AddNew is a no-op.
    EXPECT_TRUE(rs.Update());
    EXPECT_EQ(rs.GetEditMode(), CADORecordset::dbEditNone);
}

TEST_F(AdoDatabaseTest, AddNewAndEditWriteRows) {
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("select * from t where mac=?", {std::string("k1")}));
    ASSERT_TRUE(rs.AddNew());
    EXPECT_EQ(rs.GetEditMode(), CADORecordset::dbEditNew);
    EXPECT_TRUE(rs.SetFieldValue("mac", std::string_view("k1")));
    EXPECT_TRUE(rs.SetFieldValue("n", int32_t{-5}));
    EXPECT_TRUE(rs.SetFieldValue("d", uint32_t{4000000000u}));
    ASSERT_TRUE(rs.Update()) << rs.GetLastErrorString();
    EXPECT_EQ(rs.GetEditMode(), CADORecordset::dbEditNone);
    ASSERT_TRUE(m_db.Execute("insert into t(mac,n) values('k2',1)"));

    ASSERT_TRUE(rs.Open("select * from t where mac=?", {std::string("k1")}));
    ASSERT_EQ(rs.GetRecordCount(), 1);
    int32_t n = 0;
    double d = 0;
    rs.GetFieldValue("n", n);
    rs.GetFieldValue("d", d);
    EXPECT_EQ(n, -5);
    EXPECT_EQ(d, 4000000000.0) << "an unsigned 32-bit value is not wrapped";

    rs.Edit();
    EXPECT_TRUE(rs.SetFieldValue("n", int32_t{8}));
    ASSERT_TRUE(rs.Update()) << rs.GetLastErrorString();
    ASSERT_TRUE(rs.Open("select n from t order by mac"));
    std::vector<int32_t> values;
    for (; !rs.IsEof(); rs.MoveNext()) {
        rs.GetFieldValue("n", n);
        values.push_back(n);
    }
    EXPECT_EQ(values, (std::vector<int32_t>{8, 1})) << "only the current row was edited";
}

TEST_F(AdoDatabaseTest, RepeatedWritesWithOtherColumnsOrOrderWriteWhatTheyName) {
    // The same query written again and again, as the store does for every device: the
    // columns named, their order and the case of their names vary from write to write.
    CADORecordset rs(&m_db);
    auto add = [&](const std::string& mac, const std::vector<std::pair<std::string, int>>& cols) {
        ASSERT_TRUE(rs.Open("select * from t where mac=?", {mac}));
        ASSERT_TRUE(rs.AddNew());
        ASSERT_TRUE(rs.SetFieldValue("mac", std::string_view(mac)));
        for (const auto& [name, value] : cols) ASSERT_TRUE(rs.SetFieldValue(name, int32_t{value}));
        ASSERT_TRUE(rs.Update()) << rs.GetLastErrorString();
    };
    add("a", {{"n", 1}, {"d", 2}});
    add("b", {{"d", 3}, {"n", 4}});
    add("c", {{"N", 5}});
    add("d", {{"n", 6}, {"d", 7}});
    ASSERT_TRUE(rs.Open("select * from t where mac=?", {std::string("b")}));
    rs.Edit();
    ASSERT_TRUE(rs.SetFieldValue("d", int32_t{8}));
    ASSERT_TRUE(rs.Update()) << rs.GetLastErrorString();
    // A name that does not exist is refused even where a known one stood before.
    ASSERT_TRUE(rs.Open("select * from t where mac=?", {std::string("e")}));
    ASSERT_TRUE(rs.AddNew());
    EXPECT_TRUE(rs.SetFieldValue("mac", std::string_view("e")));
    EXPECT_FALSE(rs.SetFieldValue("nn", int32_t{1}));
    rs.CancelUpdate();

    ASSERT_TRUE(rs.Open("select mac, n, d from t order by mac"));
    std::vector<std::string> rows;
    for (; !rs.IsEof(); rs.MoveNext()) {
        std::string mac, n, d;
        rs.GetFieldValue("mac", mac);
        rs.GetFieldValue("n", n);
        rs.GetFieldValue("d", d);
        rows.push_back(mac + n + "/" + d);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"a1/2", "b4/8", "c5/", "d6/7"}));
}

TEST_F(AdoDatabaseTest, FailedUpdateIsCancelledAndReported) {
    ASSERT_TRUE(m_db.Execute("CREATE UNIQUE INDEX t_mac ON t(mac)"));
    ASSERT_TRUE(m_db.Execute("insert into t(mac) values('dup')"));
    CADORecordset rs(&m_db);
    ASSERT_TRUE(rs.Open("select * from t where mac='none'"));
    ASSERT_TRUE(rs.AddNew());
    rs.SetFieldValue("mac", std::string_view("DUP"));
    EXPECT_FALSE(rs.Update());
    EXPECT_EQ(rs.GetEditMode(), CADORecordset::dbEditNone);
    EXPECT_EQ(rs.GetLastErrorString().rfind("Query = select * from t where mac='none'\n", 0), 0u);
    EXPECT_NE(rs.GetLastErrorString().find("UNIQUE constraint failed"), std::string::npos);

    // Rows of a query without the table's key cannot be edited.
    ASSERT_TRUE(rs.Open("select mac from t"));
    rs.Edit();
    rs.SetFieldValue("mac", std::string_view("x"));
    EXPECT_FALSE(rs.Update());
}

}  // namespace
