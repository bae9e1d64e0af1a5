#pragma once

// Views that show a repository's objects, values and links by the model's
// names, for people reading it with plain SQL; the same in every database.

inline constexpr const char* kNamedViews = R"sql(
CREATE VIEW named_object AS
  SELECT o.id AS id, c.name AS class,
         (SELECT a.text FROM attribute a JOIN feature f ON f.id = a.feature
           WHERE a.object = o.id AND f.owner = 0 AND f.name = 'name') AS name
  FROM object o LEFT JOIN class c ON c.id = o.class;
CREATE VIEW named_attribute AS
  SELECT a.object AS object, coalesce(c.name, '*') || '.' || f.name AS feature,
         a.number AS number, a.text AS text
  FROM attribute a LEFT JOIN feature f ON f.id = a.feature LEFT JOIN class c ON c.id = f.owner;
CREATE VIEW named_link AS
  SELECT r.object AS object, coalesce(c.name, '*') || '.' || f.name AS feature,
         r.target AS target, NULL AS next
  FROM reference r LEFT JOIN feature f ON f.id = r.feature LEFT JOIN class c ON c.id = f.owner
  UNION ALL
  SELECT m.object, coalesce(c.name, '*') || '.' || f.name, m.member, m.next
  FROM member m LEFT JOIN feature f ON f.id = m.feature LEFT JOIN class c ON c.id = f.owner;
)sql";
